#include "src/dinput8/DirectInput.h"

#include "src/dinput8/DirectInputDevice.h"
#include "src/dinput8/HidControllers.h"
#include "src/dinput8/SystemInput.h"
#include "src/faults/FaultPlan.h"

#include <cstring>
#include <vector>

namespace winport::dinput8
{

namespace
{

std::atomic<size_t> g_live{0};

const DWORD kValidEnumFlags = DIEDFL_ATTACHEDONLY | DIEDFL_FORCEFEEDBACK | DIEDFL_INCLUDEALIASES |
                              DIEDFL_INCLUDEPHANTOMS | DIEDFL_INCLUDEHIDDEN;

void SetName(WCHAR (&dest)[260], const std::u16string& name)
{
    size_t n = std::min<size_t>(name.size(), 259);
    std::memcpy(dest, name.data(), n * sizeof(WCHAR));
    dest[n] = 0;
}

DIDEVICEINSTANCEW Describe(const GUID& guid, DWORD devType, const std::u16string& name, WORD usage)
{
    DIDEVICEINSTANCEW info{};
    info.dwSize = sizeof(info);
    info.guidInstance = guid;
    info.guidProduct = guid;
    info.dwDevType = devType;
    SetName(info.tszInstanceName, name);
    SetName(info.tszProductName, name);
    info.wUsagePage = 1;
    info.wUsage = usage;
    return info;
}

DIDEVICEINSTANCEW Describe(const GameController& controller)
{
    BYTE type = controller.usage == 5 ? DI8DEVTYPE_GAMEPAD : DI8DEVTYPE_JOYSTICK;
    BYTE subtype = controller.usage == 5 ? DI8DEVTYPEGAMEPAD_STANDARD : DI8DEVTYPEJOYSTICK_STANDARD;
    auto info = Describe(controller.instance, DIDEVTYPE_HID | (subtype << 8) | type, controller.name,
                         controller.usage);
    // A HID product's GUID carries its vendor and product ids, then "PIDVID".
    info.guidProduct = GUID{static_cast<uint32_t>(MAKELONG(controller.vendorId, controller.productId)),
                            0,
                            0,
                            {0, 0, 'P', 'I', 'D', 'V', 'I', 'D'}};
    return info;
}

// Whether a device of type devType belongs to what EnumDevices was asked for; false for an
// unknown request is reported by the caller.
bool InClass(DWORD request, BYTE devType)
{
    switch (request)
    {
        case DI8DEVCLASS_ALL:
            return true;
        case DI8DEVCLASS_DEVICE:
            return devType == DI8DEVTYPE_DEVICE;
        case DI8DEVCLASS_POINTER:
            return devType == DI8DEVTYPE_MOUSE;
        case DI8DEVCLASS_KEYBOARD:
            return devType == DI8DEVTYPE_KEYBOARD;
        case DI8DEVCLASS_GAMECTRL:
            return devType >= DI8DEVTYPE_JOYSTICK && devType <= DI8DEVTYPE_1STPERSON;
        default:
            return devType == request;
    }
}

bool ValidRequest(DWORD request)
{
    return request <= DI8DEVCLASS_GAMECTRL ||
           (request >= DI8DEVTYPE_DEVICE && request <= DI8DEVTYPE_SUPPLEMENTAL);
}

} // namespace

DirectInput::DirectInput()
{
    ++g_live;
}

DirectInput::~DirectInput()
{
    --g_live;
}

size_t DirectInput::LiveCount()
{
    return g_live;
}

HRESULT DirectInput::QueryInterface(REFIID riid, void** ppvObject)
{
    if (ppvObject == nullptr)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IDirectInput8W)
    {
        AddRef();
        *ppvObject = static_cast<IDirectInput8W*>(this);
        return S_OK;
    }
    *ppvObject = nullptr;
    return E_NOINTERFACE;
}

ULONG DirectInput::AddRef()
{
    return ++m_refs;
}

ULONG DirectInput::Release()
{
    ULONG refs = --m_refs;
    if (refs == 0)
        delete this;
    return refs;
}

HRESULT DirectInput::CreateDevice(REFGUID guid, LPDIRECTINPUTDEVICE8W* device, LPUNKNOWN outer)
{
    if (device == nullptr)
        return E_POINTER;
    *device = nullptr;
    if (outer != nullptr)
        return DIERR_NOAGGREGATION;
    if (!m_initialized)
        return DIERR_NOTINITIALIZED;
    if (const HRESULT fault = winport::faults::FaultHresult(winport::faults::WinportCall::DirectInputCreateDevice))
        return fault;
    for (auto& controller : HidGameControllers())
        if (controller.instance == guid)
            return DIERR_UNSUPPORTED;
    DeviceKind kind;
    {
        auto& system = SystemInput::Instance();
        std::lock_guard<std::mutex> guard(system.Lock());
        if (guid == GUID_SysKeyboard && system.PresentLocked(DeviceKind::Keyboard))
            kind = DeviceKind::Keyboard;
        else if (guid == GUID_SysMouse && system.PresentLocked(DeviceKind::Mouse))
            kind = DeviceKind::Mouse;
        else
        {
            // Game controllers are enumerated but not opened through DirectInput on this machine.
            for (auto& controller : system.ControllersLocked())
                if (controller.instance == guid)
                    return DIERR_UNSUPPORTED;
            return DIERR_DEVICENOTREG;
        }
    }
    *device = new DirectInputDevice(kind, this);
    return DI_OK;
}

HRESULT DirectInput::EnumDevices(DWORD type, LPDIENUMDEVICESCALLBACKW callback, LPVOID ref, DWORD flags)
{
    if (callback == nullptr || !ValidRequest(type) || (flags & ~kValidEnumFlags) != 0)
        return DIERR_INVALIDPARAM;
    if (!m_initialized)
        return DIERR_NOTINITIALIZED;
    if (const HRESULT fault = winport::faults::FaultHresult(winport::faults::WinportCall::DirectInputEnumDevices))
        return fault;
    // Read before taking the input lock: listing HID devices opens them.
    auto hidControllers = HidGameControllers();
    std::vector<DIDEVICEINSTANCEW> found;
    {
        auto& system = SystemInput::Instance();
        std::lock_guard<std::mutex> guard(system.Lock());
        if (system.PresentLocked(DeviceKind::Mouse))
            found.push_back(
                Describe(GUID_SysMouse, DI8DEVTYPE_MOUSE | (DI8DEVTYPEMOUSE_TRADITIONAL << 8), u"Mouse", 2));
        if (system.PresentLocked(DeviceKind::Keyboard))
            found.push_back(Describe(GUID_SysKeyboard, DI8DEVTYPE_KEYBOARD | (DI8DEVTYPEKEYBOARD_PCENH << 8),
                                     u"Keyboard", 6));
        for (auto& controller : system.ControllersLocked())
            found.push_back(Describe(controller));
    }
    for (auto& controller : hidControllers)
        found.push_back(Describe(controller));
    // No device here has force feedback, so asking for it finds nothing.
    for (auto& info : found)
    {
        if (!InClass(type, GET_DIDEVICE_TYPE(info.dwDevType)) || (flags & DIEDFL_FORCEFEEDBACK))
            continue;
        if (callback(&info, ref) == DIENUM_STOP)
            break;
    }
    return DI_OK;
}

HRESULT DirectInput::GetDeviceStatus(REFGUID instance)
{
    for (auto& controller : HidGameControllers())
        if (controller.instance == instance)
            return DI_OK;
    auto& system = SystemInput::Instance();
    std::lock_guard<std::mutex> guard(system.Lock());
    if (instance == GUID_SysKeyboard)
        return system.PresentLocked(DeviceKind::Keyboard) ? DI_OK : DI_NOTATTACHED;
    if (instance == GUID_SysMouse)
        return system.PresentLocked(DeviceKind::Mouse) ? DI_OK : DI_NOTATTACHED;
    for (auto& controller : system.ControllersLocked())
        if (controller.instance == instance)
            return DI_OK;
    return DIERR_DEVICENOTREG;
}

HRESULT DirectInput::RunControlPanel(HWND, DWORD)
{
    return DIERR_UNSUPPORTED;
}

HRESULT DirectInput::Initialize(HINSTANCE instance, DWORD version)
{
    if (instance == nullptr)
        return DIERR_INVALIDPARAM;
    if (version == 0)
        return DIERR_NOTINITIALIZED;
    // A version this DirectInput does not know is "beta" when older, and needs a newer DirectInput
    // ("old") when newer.
    if (version < DIRECTINPUT_VERSION)
        return DIERR_BETADIRECTINPUTVERSION;
    if (version > DIRECTINPUT_VERSION)
        return DIERR_OLDDIRECTINPUTVERSION;
    m_initialized = true;
    return DI_OK;
}

HRESULT DirectInput::FindDevice(REFGUID, LPCWSTR, LPGUID)
{
    return DIERR_UNSUPPORTED;
}

HRESULT DirectInput::EnumDevicesBySemantics(LPCWSTR, LPDIACTIONFORMATW, LPDIENUMDEVICESBYSEMANTICSCBW, LPVOID,
                                            DWORD)
{
    return DIERR_UNSUPPORTED;
}

HRESULT DirectInput::ConfigureDevices(LPDICONFIGUREDEVICESCALLBACK, LPDICONFIGUREDEVICESPARAMSW, DWORD,
                                      LPVOID)
{
    return DIERR_UNSUPPORTED;
}

} // namespace winport::dinput8
