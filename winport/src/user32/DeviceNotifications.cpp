#include "src/user32/DeviceNotifications.h"

#include "src/user32/WindowManager.h"

#include <cstring>
#include <vector>

namespace winport::user32
{

DeviceNotifications& DeviceNotifications::Instance()
{
    static DeviceNotifications* instance = new DeviceNotifications;
    return *instance;
}

HDEVNOTIFY DeviceNotifications::Register(HANDLE recipient, const void* filter, DWORD flags)
{
    const DWORD knownFlags = DEVICE_NOTIFY_SERVICE_HANDLE | DEVICE_NOTIFY_ALL_INTERFACE_CLASSES;
    if ((flags & ~knownFlags) != 0)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (flags & DEVICE_NOTIFY_SERVICE_HANDLE)
    {
        // No service runs on this machine, so no service status handle can be valid.
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    HWND window = static_cast<HWND>(recipient);
    if (!WindowManager::Instance().IsWindow(window))
    {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    auto header = static_cast<const DEV_BROADCAST_HDR*>(filter);
    Registration entry{nullptr, window, header ? header->dbch_devicetype : 0, false, {}, nullptr};
    if (header == nullptr)
    {
        // Accepted, as Wine does; such a registration hears neither interface nor handle events.
    }
    else if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
    {
        auto iface = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(filter);
        if (iface->dbcc_size < offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name))
        {
            SetLastError(ERROR_INVALID_DATA);
            return nullptr;
        }
        entry.interfaceClass = iface->dbcc_classguid;
        entry.allClasses = (flags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0;
    }
    else if (header->dbch_devicetype == DBT_DEVTYP_HANDLE)
    {
        auto handle = static_cast<const DEV_BROADCAST_HANDLE*>(filter);
        if (handle->dbch_size < offsetof(DEV_BROADCAST_HANDLE, dbch_hdevnotify))
        {
            SetLastError(ERROR_INVALID_DATA);
            return nullptr;
        }
        if (handle->dbch_handle == nullptr || handle->dbch_handle == INVALID_HANDLE_VALUE)
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return nullptr;
        }
        entry.fileHandle = handle->dbch_handle;
    }
    else
    {
        SetLastError(ERROR_INVALID_DATA);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    entry.handle = reinterpret_cast<HDEVNOTIFY>(m_nextHandle);
    m_nextHandle += 0x10;
    m_registrations.push_back(entry);
    return entry.handle;
}

BOOL DeviceNotifications::Unregister(HDEVNOTIFY handle)
{
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_registrations.begin(); it != m_registrations.end(); ++it)
    {
        if (it->handle == handle)
        {
            m_registrations.erase(it);
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
}

std::vector<DeviceNotifications::Registration>
DeviceNotifications::Matching(bool (*match)(const Registration&, const void*), const void* key)
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::vector<Registration> found;
    for (auto& entry : m_registrations)
        if (match(entry, key))
            found.push_back(entry);
    return found;
}

void DeviceNotifications::Send(HWND window, DWORD event, void* record)
{
    std::chrono::milliseconds timeout;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        timeout = m_sendTimeout;
    }
    LRESULT ignored;
    WindowManager::Instance().SendWithDeadline(window, WM_DEVICECHANGE, event,
                                               reinterpret_cast<LPARAM>(record),
                                               std::chrono::steady_clock::now() + timeout, ignored);
}

void DeviceNotifications::BroadcastInterface(const GUID& interfaceClass, const char16_t* path, DWORD event)
{
    auto targets = Matching(
        [](const Registration& entry, const void* key)
        {
            return entry.deviceType == DBT_DEVTYP_DEVICEINTERFACE &&
                   (entry.allClasses || entry.interfaceClass == *static_cast<const GUID*>(key));
        },
        &interfaceClass);
    size_t nameBytes = (std::char_traits<char16_t>::length(path) + 1) * sizeof(char16_t);
    size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + nameBytes;
    for (auto& target : targets)
    {
        // Each window gets a record of its own, valid only while its procedure runs.
        std::vector<uint64_t> storage((size + 7) / 8);
        auto record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
        record->dbcc_size = static_cast<DWORD>(size);
        record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        record->dbcc_reserved = 0;
        record->dbcc_classguid = interfaceClass;
        std::memcpy(record->dbcc_name, path, nameBytes);
        Send(target.window, event, record);
    }
}

void DeviceNotifications::BroadcastHandle(HANDLE fileHandle, DWORD event)
{
    auto targets = Matching([](const Registration& entry, const void* key)
                            { return entry.deviceType == DBT_DEVTYP_HANDLE && entry.fileHandle == key; },
                            fileHandle);
    for (auto& target : targets)
    {
        DEV_BROADCAST_HANDLE record{};
        record.dbch_size = sizeof(record);
        record.dbch_devicetype = DBT_DEVTYP_HANDLE;
        record.dbch_handle = fileHandle;
        record.dbch_hdevnotify = target.handle;
        Send(target.window, event, &record);
    }
}

size_t DeviceNotifications::Count()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_registrations.size();
}

void DeviceNotifications::SetSendTimeout(std::chrono::milliseconds timeout)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_sendTimeout = timeout;
}

} // namespace winport::user32
