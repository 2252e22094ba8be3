// DirectInput 8 over the machine's keyboard and mouse, as the virtual devices use it.
#include "TestDescriptors.h"

#include <dinput.h>
#include <machine/DesktopControl.h>
#include <machine/Machine.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

namespace machine = winport::machine;

namespace
{

HINSTANCE Module()
{
    return reinterpret_cast<HINSTANCE>(0x400000);
}

IDirectInput8W* Create()
{
    void* out = nullptr;
    EXPECT_EQ(DirectInput8Create(Module(), DIRECTINPUT_VERSION, IID_IDirectInput8W, &out, nullptr), DI_OK);
    return static_cast<IDirectInput8W*>(out);
}

HRESULT SetBufferSize(IDirectInputDevice8W* device, DWORD size, DWORD how = DIPH_DEVICE)
{
    DIPROPDWORD prop{};
    prop.diph.dwSize = sizeof(prop);
    prop.diph.dwHeaderSize = sizeof(prop.diph);
    prop.diph.dwHow = how;
    prop.dwData = size;
    return device->SetProperty(DIPROP_BUFFERSIZE, &prop.diph);
}

// A device set up as the virtual keyboard and mouse set theirs up.
IDirectInputDevice8W* Ready(IDirectInput8W* di, const GUID& guid, const DIDATAFORMAT& format, DWORD buffer)
{
    IDirectInputDevice8W* device = nullptr;
    EXPECT_EQ(di->CreateDevice(guid, &device, nullptr), DI_OK);
    EXPECT_EQ(device->SetDataFormat(&format), DI_OK);
    EXPECT_EQ(SetBufferSize(device, buffer), DI_OK);
    EXPECT_EQ(device->Acquire(), DI_OK);
    return device;
}

std::vector<DIDEVICEOBJECTDATA> Drain(IDirectInputDevice8W* device, HRESULT& status)
{
    std::vector<DIDEVICEOBJECTDATA> events(1024);
    DWORD count = 1024;
    status = device->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), events.data(), &count, 0);
    events.resize(SUCCEEDED(status) ? count : 0);
    return events;
}

BOOL CALLBACK Collect(LPCDIDEVICEINSTANCEW instance, LPVOID ref)
{
    static_cast<std::vector<DIDEVICEINSTANCEW>*>(ref)->push_back(*instance);
    return DIENUM_CONTINUE;
}

std::vector<DIDEVICEINSTANCEW> Enumerate(IDirectInput8W* di, DWORD type)
{
    std::vector<DIDEVICEINSTANCEW> found;
    EXPECT_EQ(di->EnumDevices(type, Collect, &found, DIEDFL_ALLDEVICES), DI_OK);
    return found;
}

} // namespace

TEST(DirectInputCreate, TheModuleHandleAndVersionAreChecked)
{
    void* out = reinterpret_cast<void*>(0x1);
    // A module that is not loaded gives a null instance handle, which DirectInput refuses.
    EXPECT_EQ(DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8W, &out, nullptr),
              DIERR_INVALIDPARAM);
    EXPECT_EQ(out, nullptr);
    // An unknown older version is "beta"; a newer one needs a newer DirectInput ("old").
    EXPECT_EQ(DirectInput8Create(Module(), 0x0700, IID_IDirectInput8W, &out, nullptr),
              DIERR_BETADIRECTINPUTVERSION);
    EXPECT_EQ(DirectInput8Create(Module(), 0x0900, IID_IDirectInput8W, &out, nullptr),
              DIERR_OLDDIRECTINPUTVERSION);
    EXPECT_EQ(DirectInput8Create(Module(), DIRECTINPUT_VERSION, IID_IUnknown, &out, nullptr),
              DIERR_NOINTERFACE);
    EXPECT_EQ(machine::OpenDesktopResources().directInputObjects, 0u);
}

TEST(DirectInputEnumeration, AFreshMachineHasAKeyboardAndAMouseAndNoGameController)
{
    IDirectInput8W* di = Create();
    auto all = Enumerate(di, DI8DEVCLASS_ALL);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(GET_DIDEVICE_TYPE(all[0].dwDevType), DI8DEVTYPE_MOUSE);
    EXPECT_EQ(GET_DIDEVICE_TYPE(all[1].dwDevType), DI8DEVTYPE_KEYBOARD);
    EXPECT_TRUE(all[1].guidInstance == GUID_SysKeyboard);
    EXPECT_EQ(all[1].dwSize, 1100u);
    EXPECT_TRUE(Enumerate(di, DI8DEVCLASS_GAMECTRL).empty());

    const GUID pad = {0xABCD, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    machine::AddGameController(pad, u"Pad", 0x1234, 0x5678, 5);
    auto controllers = Enumerate(di, DI8DEVCLASS_GAMECTRL);
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(GET_DIDEVICE_TYPE(controllers[0].dwDevType), DI8DEVTYPE_GAMEPAD);
    EXPECT_EQ(controllers[0].guidProduct.Data1, 0x56781234u);
    EXPECT_EQ(Enumerate(di, DI8DEVCLASS_KEYBOARD).size(), 1u);

    machine::SetKeyboardPresent(false);
    machine::SetMousePresent(false);
    EXPECT_EQ(Enumerate(di, DI8DEVCLASS_ALL).size(), 1u);
    IDirectInputDevice8W* device = reinterpret_cast<IDirectInputDevice8W*>(0x1);
    EXPECT_EQ(di->CreateDevice(GUID_SysKeyboard, &device, nullptr), DIERR_DEVICENOTREG);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(di->EnumDevices(0x99, Collect, nullptr, 0), DIERR_INVALIDPARAM);
    di->Release();
}

TEST(DirectInputDevice, StatusesBeforeAndAfterAcquisition)
{
    IDirectInput8W* di = Create();
    IDirectInputDevice8W* keyboard = nullptr;
    ASSERT_EQ(di->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr), DI_OK);
    DIDEVICEOBJECTDATA data[4];
    DWORD count = 4;
    EXPECT_EQ(keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), data, &count, 0), DIERR_NOTBUFFERED);
    EXPECT_EQ(keyboard->Acquire(), DIERR_INVALIDPARAM) << "no data format yet";

    DIDATAFORMAT bad = c_dfDIKeyboard;
    bad.dwSize = 0;
    EXPECT_EQ(keyboard->SetDataFormat(&bad), DIERR_INVALIDPARAM);
    EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIMouse2), DIERR_INVALIDPARAM) << "a keyboard has no axes";
    EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DI_OK);

    EXPECT_EQ(SetBufferSize(keyboard, 16, DIPH_BYOFFSET), DIERR_NOTFOUND) << "no key at offset 0";
    EXPECT_EQ(keyboard->Acquire(), DI_OK);
    EXPECT_EQ(keyboard->Acquire(), DI_NOEFFECT);
    EXPECT_EQ(SetBufferSize(keyboard, 16), DIERR_ACQUIRED);
    count = 4;
    EXPECT_EQ(keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), data, &count, 0), DIERR_NOTBUFFERED);
    EXPECT_EQ(keyboard->SetDataFormat(&c_dfDIKeyboard), DIERR_ACQUIRED);
    EXPECT_EQ(keyboard->Unacquire(), DI_OK);
    EXPECT_EQ(keyboard->Unacquire(), DI_NOEFFECT);
    EXPECT_EQ(SetBufferSize(keyboard, 16), DI_OK);
    EXPECT_EQ(keyboard->Acquire(), DI_OK);
    count = 4;
    EXPECT_EQ(keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), data, &count, 0), DI_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(keyboard->Unacquire(), DI_OK);
    count = 4;
    EXPECT_EQ(keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), data, &count, 0), DIERR_NOTACQUIRED);
    EXPECT_EQ(keyboard->Acquire(), DI_OK);
    EXPECT_EQ(keyboard->GetDeviceData(20, data, &count, 0), DIERR_INVALIDPARAM);

    keyboard->Release();
    di->Release();
    EXPECT_EQ(machine::OpenDesktopResources().directInputDevices, 0u);
    EXPECT_EQ(machine::OpenDesktopResources().directInputObjects, 0u);
}

TEST(DirectInputDevice, KeysAreBufferedInOrderWithTheirCodes)
{
    IDirectInput8W* di = Create();
    auto* keyboard = Ready(di, GUID_SysKeyboard, c_dfDIKeyboard, 1024);
    EXPECT_TRUE(machine::PressKey(DIK_A));
    EXPECT_TRUE(machine::ReleaseKey(DIK_A));
    EXPECT_TRUE(machine::PressKey(0xC8)); // up arrow, an extended key
    EXPECT_FALSE(machine::PressKey(0xFF)) << "no such key";
    HRESULT status;
    auto events = Drain(keyboard, status);
    EXPECT_EQ(status, DI_OK);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].dwOfs, static_cast<DWORD>(DIK_A));
    EXPECT_EQ(events[0].dwData & 0x80, 0x80u);
    EXPECT_EQ(events[1].dwOfs, static_cast<DWORD>(DIK_A));
    EXPECT_EQ(events[1].dwData & 0x80, 0u);
    EXPECT_EQ(events[2].dwOfs, 0xC8u);
    EXPECT_LT(events[0].dwSequence, events[1].dwSequence);
    EXPECT_TRUE(Drain(keyboard, status).empty()) << "the buffer was drained";
    keyboard->Release();
    di->Release();
}

TEST(DirectInputDevice, MouseEventsUseTheMouse2Offsets)
{
    IDirectInput8W* di = Create();
    auto* mouse = Ready(di, GUID_SysMouse, c_dfDIMouse2, 1024);
    DIDEVCAPS caps{};
    caps.dwSize = sizeof(caps);
    ASSERT_EQ(mouse->GetCapabilities(&caps), DI_OK);
    EXPECT_EQ(caps.dwAxes, 3u);
    EXPECT_EQ(caps.dwButtons, 5u);
    caps.dwSize = 12;
    EXPECT_EQ(mouse->GetCapabilities(&caps), DIERR_INVALIDPARAM);

    machine::MoveMouse(-5, 0, 120);
    EXPECT_TRUE(machine::PressMouseButton(0));
    EXPECT_FALSE(machine::PressMouseButton(5)) << "a five-button mouse";
    HRESULT status;
    auto events = Drain(mouse, status);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].dwOfs, static_cast<DWORD>(DIMOFS_X));
    EXPECT_EQ(static_cast<LONG>(events[0].dwData), -5);
    EXPECT_EQ(events[1].dwOfs, static_cast<DWORD>(DIMOFS_Z));
    EXPECT_EQ(events[2].dwOfs, static_cast<DWORD>(DIMOFS_BUTTON0));
    mouse->Release();
    di->Release();
}

TEST(DirectInputDevice, AFullBufferKeepsTheOldestEventsAndReportsOverflowOnce)
{
    IDirectInput8W* di = Create();
    auto* keyboard = Ready(di, GUID_SysKeyboard, c_dfDIKeyboard, 2);
    machine::PressKey(0x02);
    machine::PressKey(0x03);
    machine::PressKey(0x04);
    HRESULT status;
    auto events = Drain(keyboard, status);
    EXPECT_EQ(status, DI_BUFFEROVERFLOW);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].dwOfs, 0x02u);
    EXPECT_EQ(events[1].dwOfs, 0x03u);
    machine::PressKey(0x05);
    events = Drain(keyboard, status);
    EXPECT_EQ(status, DI_OK);
    EXPECT_EQ(events.size(), 1u);
    keyboard->Release();
    di->Release();
}

TEST(DirectInputDevice, LostAcquisitionIsReportedOnceThenTheDeviceIsNotAcquired)
{
    IDirectInput8W* di = Create();
    auto* keyboard = Ready(di, GUID_SysKeyboard, c_dfDIKeyboard, 16);
    machine::PressKey(DIK_SPACE);
    machine::LoseInputAcquisition();
    machine::PressKey(DIK_SPACE);
    HRESULT status;
    Drain(keyboard, status);
    EXPECT_EQ(status, DIERR_INPUTLOST);
    Drain(keyboard, status);
    EXPECT_EQ(status, DIERR_NOTACQUIRED);
    EXPECT_EQ(keyboard->Acquire(), DI_OK);
    EXPECT_TRUE(Drain(keyboard, status).empty()) << "events of before the loss are gone";
    machine::PressKey(DIK_SPACE);
    EXPECT_EQ(Drain(keyboard, status).size(), 1u);
    keyboard->Release();
    di->Release();
}

TEST(DirectInputDevice, EnumObjectsListsEveryObjectAndMaySetTheBufferSizeFromItsCallback)
{
    IDirectInput8W* di = Create();
    IDirectInputDevice8W* mouse = nullptr;
    ASSERT_EQ(di->CreateDevice(GUID_SysMouse, &mouse, nullptr), DI_OK);
    ASSERT_EQ(mouse->SetDataFormat(&c_dfDIMouse2), DI_OK);
    struct Context
    {
        IDirectInputDevice8W* device;
        std::vector<DIDEVICEOBJECTINSTANCEW> objects;
    } context{mouse, {}};
    auto callback = [](LPCDIDEVICEOBJECTINSTANCEW object, LPVOID ref) -> BOOL
    {
        auto* ctx = static_cast<Context*>(ref);
        ctx->objects.push_back(*object);
        return SetBufferSize(ctx->device, 1024) == DI_OK ? DIENUM_CONTINUE : DIENUM_STOP;
    };
    ASSERT_EQ(mouse->EnumObjects(callback, &context, DIDFT_ALL), DI_OK);
    ASSERT_EQ(context.objects.size(), 8u);
    EXPECT_TRUE(context.objects[0].guidType == GUID_XAxis);
    EXPECT_EQ(context.objects[3].dwOfs, static_cast<DWORD>(DIMOFS_BUTTON0));
    DIPROPDWORD prop{{sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), 0, DIPH_DEVICE}, 0};
    ASSERT_EQ(mouse->GetProperty(DIPROP_BUFFERSIZE, &prop.diph), DI_OK);
    EXPECT_EQ(prop.dwData, 1024u);
    context.objects.clear();
    ASSERT_EQ(mouse->EnumObjects(callback, &context, DIDFT_BUTTON), DI_OK);
    EXPECT_EQ(context.objects.size(), 5u);
    mouse->Release();
    di->Release();
}

TEST(ComApartments, InitializationCountsPerThreadAndKeepsItsModel)
{
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(machine::OpenDesktopResources().comThreads, 1u);
    CoUninitialize();
    EXPECT_EQ(machine::OpenDesktopResources().comThreads, 1u);
    CoUninitialize();
    EXPECT_EQ(machine::OpenDesktopResources().comThreads, 0u);
    EXPECT_EQ(CoInitializeEx(reinterpret_cast<void*>(1), COINIT_MULTITHREADED), E_INVALIDARG);
}

TEST(DirectInputEnumeration, PluggedHidGameControllersAreListedButKeyboardsAreNot)
{
    IDirectInput8W* di = Create();
    machine::HidDeviceDescription pad;
    pad.vendorId = 0x0012;
    pad.productId = 0x00AB;
    pad.friendlyName = u"Test Pad";
    pad.reportDescriptor = GamePadDescriptor();
    machine::HidDeviceDescription keyboard;
    keyboard.reportDescriptor = KeyboardDescriptor();
    uint32_t padId = machine::Machine::Instance().PlugDevice(pad);
    ASSERT_NE(padId, 0u);
    ASSERT_NE(machine::Machine::Instance().PlugDevice(keyboard), 0u);
    SetLastError(1234);
    auto controllers = Enumerate(di, DI8DEVCLASS_GAMECTRL);
    EXPECT_EQ(GetLastError(), 1234u) << "listing leaves the last error alone";
    ASSERT_EQ(controllers.size(), 1u);
    EXPECT_EQ(controllers[0].guidProduct.Data1, 0x00AB0012u);
    EXPECT_EQ(std::u16string(controllers[0].tszProductName), u"Test Pad");
    EXPECT_EQ(di->GetDeviceStatus(controllers[0].guidInstance), DI_OK);
    EXPECT_EQ(machine::Machine::Instance().GetDeviceStats(padId).openHandles, 0) << "no handle left open";
    machine::Machine::Instance().UnplugDevice(padId, machine::Removal::Surprise);
    EXPECT_TRUE(Enumerate(di, DI8DEVCLASS_GAMECTRL).empty());
    di->Release();
}
