// Helpers of the notification tests: a recorder of forwarded events and a game pad on the machine.
#pragma once

#include "KvDevNotifications.h"
extern "C"
{
#include <hidsdi.h>
}
#include "KvTestSupport.h"

#include <machine/DesktopControl.h>
#include <machine/Machine.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace notif_test
{
namespace machine = winport::machine;

// The interface class of HID devices, as the system names it.
inline GUID HidInterfaceClass()
{
    GUID guid;
    HidD_GetHidGuid(&guid);
    return guid;
}

struct Heard
{
    DWORD event;
    DWORD deviceType;
    std::u16string path; // interface events
    HANDLE handle;       // handle events
    DWORD thread;
    void* context;
};

// Records every event that reaches the two callbacks; a hook may act inside either callback.
class Recorder
{
public:
    static Recorder& Instance()
    {
        static Recorder recorder;
        return recorder;
    }

    static DWORD OnInterface(void* context, DWORD event, DEV_BROADCAST_DEVICEINTERFACE_W* record)
    {
        Instance().Add(
            {event, record->dbcc_devicetype, record->dbcc_name, nullptr, GetCurrentThreadId(), context});
        std::function<void()> hook = Instance().Hook();
        if (hook)
            hook();
        return 0;
    }

    static DWORD OnHandle(void* context, DWORD event, DEV_BROADCAST_HANDLE* record)
    {
        Instance().Add(
            {event, record->dbch_devicetype, {}, record->dbch_handle, GetCurrentThreadId(), context});
        std::function<void()> hook = Instance().Hook();
        if (hook)
            hook();
        return 0;
    }

    void SetHook(std::function<void()> hook)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_hook = std::move(hook);
    }
    std::vector<Heard> Events()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_events;
    }

private:
    void Add(const Heard& heard)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_events.push_back(heard);
    }
    std::function<void()> Hook()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_hook;
    }

    std::mutex m_lock;
    std::vector<Heard> m_events;
    std::function<void()> m_hook;
};

inline HWND FindNotifyWindow()
{
    return FindWindowExW(HWND_MESSAGE, nullptr, u"Kavrel Notify HID 1", u"Kavrel HID Control App 1");
}

// A game pad without report IDs: 8 buttons.
inline uint32_t PlugGamePad()
{
    machine::HidDeviceDescription spec;
    spec.reportDescriptor = {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08,
                             0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0xC0};
    return machine::Machine::Instance().PlugDevice(spec);
}

inline std::u16string InterfacePath(uint32_t device)
{
    return machine::Machine::Instance().InterfacePaths(device).at(0);
}

inline HANDLE OpenDevice(uint32_t device)
{
    return CreateFileW(InterfacePath(device).c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                       nullptr);
}

inline int RunningThreads()
{
    return machine::Machine::Instance().QueryOpenResources().runningThreads;
}

} // namespace notif_test
