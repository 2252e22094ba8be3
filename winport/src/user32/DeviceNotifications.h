// Registrations of windows for device-change messages, and the sending of those messages.
#pragma once

#include <dbt.h>
#include <windows.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace winport::user32
{

class DeviceNotifications
{
public:
    static DeviceNotifications& Instance();

    HDEVNOTIFY Register(HANDLE recipient, const void* filter, DWORD flags);
    BOOL Unregister(HDEVNOTIFY handle);

    void BroadcastInterface(const GUID& interfaceClass, const char16_t* path, DWORD event);
    void BroadcastHandle(HANDLE fileHandle, DWORD event);

    size_t Count();
    // How long a broadcast waits for one window procedure before it gives up on that window.
    void SetSendTimeout(std::chrono::milliseconds timeout);

private:
    struct Registration
    {
        HDEVNOTIFY handle;
        HWND window;
        DWORD deviceType;
        bool allClasses;
        GUID interfaceClass;
        HANDLE fileHandle;
    };

    std::vector<Registration> Matching(bool (*match)(const Registration&, const void*), const void* key);
    void Send(HWND window, DWORD event, void* record);

    std::mutex m_lock;
    std::vector<Registration> m_registrations;
    ULONG_PTR m_nextHandle = 0x5A0010;
    std::chrono::milliseconds m_sendTimeout{30000};
};

} // namespace winport::user32
