// Twin program: DirectInput 8's statuses over the system keyboard and mouse (creation, data
// format, buffer size, acquisition, buffered reads). Built with mingw and run under Wine, and built
// natively against winport; both runs must print the same lines. Nothing here depends on input
// arriving, which neither Wine without a display nor this program can produce.
#ifndef UNICODE
#define UNICODE
#endif
#define DIRECTINPUT_VERSION 0x0800
#include <windows.h>
#include <objbase.h>
#include <dinput.h>

#include <cstdio>

namespace
{

void Report(const char* what, long long value)
{
    std::printf("%s: 0x%08llx\n", what, value & 0xFFFFFFFFll);
}

BOOL CALLBACK Count(LPCDIDEVICEINSTANCEW, LPVOID ref)
{
    ++*static_cast<int*>(ref);
    return DIENUM_CONTINUE;
}

BOOL CALLBACK Stop(LPCDIDEVICEINSTANCEW, LPVOID ref)
{
    ++*static_cast<int*>(ref);
    return DIENUM_STOP;
}

HRESULT SetBufferSize(IDirectInputDevice8W* device, DWORD size, DWORD how)
{
    DIPROPDWORD prop = {};
    prop.diph.dwSize = sizeof(prop);
    prop.diph.dwHeaderSize = sizeof(prop.diph);
    prop.diph.dwHow = how;
    prop.dwData = size;
    return device->SetProperty(DIPROP_BUFFERSIZE, &prop.diph);
}

void Create(HINSTANCE module)
{
    void* out = reinterpret_cast<void*>(1);
    Report("DirectInput8Create without module",
           DirectInput8Create(nullptr, DIRECTINPUT_VERSION, IID_IDirectInput8W, &out, nullptr));
    Report("its object is null", out == nullptr);
    Report("DirectInput8Create version 0x0700",
           DirectInput8Create(module, 0x0700, IID_IDirectInput8W, &out, nullptr));
    Report("DirectInput8Create version 0x0900",
           DirectInput8Create(module, 0x0900, IID_IDirectInput8W, &out, nullptr));
}

void Enumerate(IDirectInput8W* di)
{
    int keyboards = 0, pointers = 0, stopped = 0;
    Report("EnumDevices keyboards",
           di->EnumDevices(DI8DEVCLASS_KEYBOARD, Count, &keyboards, DIEDFL_ALLDEVICES));
    Report("keyboards", keyboards);
    Report("EnumDevices pointers", di->EnumDevices(DI8DEVCLASS_POINTER, Count, &pointers, DIEDFL_ALLDEVICES));
    Report("pointers", pointers);
    Report("EnumDevices stopped", di->EnumDevices(DI8DEVCLASS_ALL, Stop, &stopped, DIEDFL_ALLDEVICES));
    Report("calls before stopping", stopped);
    Report("EnumDevices game controllers",
           di->EnumDevices(DI8DEVCLASS_GAMECTRL, Count, &stopped, DIEDFL_ALLDEVICES));
    Report("EnumDevices without callback",
           di->EnumDevices(DI8DEVCLASS_ALL, nullptr, nullptr, DIEDFL_ALLDEVICES));
}

void Keyboard(IDirectInput8W* di)
{
    IDirectInputDevice8W* keyboard = nullptr;
    Report("CreateDevice keyboard", di->CreateDevice(GUID_SysKeyboard, &keyboard, nullptr));
    DIDEVICEOBJECTDATA data[8];
    DWORD count = 8;
    Report("GetDeviceData before Acquire",
           keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), data, &count, 0));
    Report("Acquire without data format", keyboard->Acquire());
    DIDATAFORMAT bad = c_dfDIKeyboard;
    bad.dwSize = 0;
    Report("SetDataFormat with a bad size", keyboard->SetDataFormat(&bad));
    Report("SetDataFormat c_dfDIKeyboard", keyboard->SetDataFormat(&c_dfDIKeyboard));
    DIDEVCAPS caps = {};
    caps.dwSize = 12;
    Report("GetCapabilities with a bad size", keyboard->GetCapabilities(&caps));
    caps.dwSize = sizeof(caps);
    Report("GetCapabilities", keyboard->GetCapabilities(&caps));
    Report("keyboard type", GET_DIDEVICE_TYPE(caps.dwDevType));
    Report("SetProperty buffer size by offset", SetBufferSize(keyboard, 16, DIPH_BYOFFSET));
    Report("Acquire", keyboard->Acquire());
    Report("Acquire again", keyboard->Acquire());
    count = 8;
    Report("GetDeviceData without a buffer size",
           keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), data, &count, 0));
    Report("SetProperty buffer size while acquired", SetBufferSize(keyboard, 16, DIPH_DEVICE));
    Report("SetDataFormat while acquired", keyboard->SetDataFormat(&c_dfDIKeyboard));
    Report("Unacquire", keyboard->Unacquire());
    Report("Unacquire again", keyboard->Unacquire());
    Report("SetProperty buffer size", SetBufferSize(keyboard, 16, DIPH_DEVICE));
    DIPROPDWORD prop = {{sizeof(DIPROPDWORD), sizeof(DIPROPHEADER), 0, DIPH_DEVICE}, 0};
    Report("GetProperty buffer size", keyboard->GetProperty(DIPROP_BUFFERSIZE, &prop.diph));
    Report("buffer size", prop.dwData);
    Report("Acquire", keyboard->Acquire());
    count = 8;
    Report("GetDeviceData", keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), data, &count, 0));
    Report("events", count);
    count = 0;
    Report("GetDeviceData of no events",
           keyboard->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), data, &count, 0));
    keyboard->Unacquire();
    keyboard->Release();
}

void Mouse(IDirectInput8W* di)
{
    IDirectInputDevice8W* mouse = nullptr;
    Report("CreateDevice mouse", di->CreateDevice(GUID_SysMouse, &mouse, nullptr));
    Report("SetDataFormat c_dfDIMouse2", mouse->SetDataFormat(&c_dfDIMouse2));
    DIDEVCAPS caps = {};
    caps.dwSize = sizeof(caps);
    Report("GetCapabilities", mouse->GetCapabilities(&caps));
    Report("mouse type", GET_DIDEVICE_TYPE(caps.dwDevType));
    Report("mouse axes", caps.dwAxes);
    mouse->Release();
}

} // namespace

int main()
{
    HINSTANCE module = GetModuleHandleW(nullptr);
    Report("CoInitializeEx", CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    Report("CoInitializeEx again", CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    Report("CoInitializeEx other model", CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CoUninitialize();
    Create(module);
    void* out = nullptr;
    Report("DirectInput8Create",
           DirectInput8Create(module, DIRECTINPUT_VERSION, IID_IDirectInput8W, &out, nullptr));
    auto* di = static_cast<IDirectInput8W*>(out);
    Enumerate(di);
    Keyboard(di);
    Mouse(di);
    di->Release();
    CoUninitialize();
    return 0;
}
