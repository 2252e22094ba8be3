#include "KvHidDeviceMgmt.h"

// mingw-w64's HID headers do not give their functions C linkage themselves.
extern "C"
{
#include <hidsdi.h>
}
#include <cfgmgr32.h>
#include <setupapi.h>

#include "KvCheck.h"
#include "KvHidDeviceRaw.h"
#include "KvModulePin.h"

#include <cstdlib>
#include <cstring>
#include <new>

// Two Win32 codes that winport's headers do not declare yet.
#ifndef ERROR_LOCK_FAILED
#define ERROR_LOCK_FAILED 167L
#endif
#ifndef ERROR_UNSUPPORTED_TYPE
#define ERROR_UNSUPPORTED_TYPE 1630L
#endif

namespace
{
// How long closing every device waits for the readers, all together.
const DWORD kCloseWaitMs = 5000;
// An arriving interface is looked at again this often until it is taken in.
const DWORD kArrivalRecheckMs = 100;
// Past this wait for pending installations, an arrival is taken in as soon as its own device is ready.
const DWORD kInstallWaitLimitMs = 10000;
// How often the wait for background updates looks.
const DWORD kBackgroundUpdatePollMs = 5;

DWORD LastErrorOrUnidentified()
{
    const DWORD error = GetLastError();
    return error != 0 ? error : ERROR_UNIDENTIFIED_ERROR;
}

bool ReadNameProperty(HDEVINFO list, SP_DEVINFO_DATA* info, DWORD property, LPWSTR name)
{
    return SetupDiGetDeviceRegistryPropertyW(list, info, property, nullptr, reinterpret_cast<PBYTE>(name),
                                             256 * sizeof(WCHAR), nullptr) != FALSE;
}
} // namespace

CKvHidDeviceMgmt::CKvHidDeviceMgmt()
    : m_bInitialized(false), m_bProcessExiting(false), m_devLock(nullptr), m_notifLock(nullptr), m_devices(),
      m_handlerPair(&m_notifLock, "CKvHidDeviceMgmt::SetNotificationHandler",
                    "CKvHidDeviceMgmt::AddNotification"),
      m_nextPos(0), m_pfnUpdateRunner(nullptr), m_backgroundUpdates(0)
{
    CLock::CreateLockPrimitiveEx(&m_devLock, "&m_devLock", enLockTypeDefault);
    CLock::CreateLockPrimitiveEx(&m_notifLock, "&m_notifLock", enLockTypeDefault);
}

CKvHidDeviceMgmt::~CKvHidDeviceMgmt()
{
    if (m_bProcessExiting)
        return;
    if (m_bInitialized)
        Stop();
    CloseHidDevices();
    CLock::DeleteLockPrimitive(&m_notifLock);
    CLock::DeleteLockPrimitive(&m_devLock);
}

DWORD CKvHidDeviceMgmt::Initialize()
{
    if (m_bInitialized)
        return ERROR_ALREADY_INITIALIZED;
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    m_devNotifications.Initialize();
    m_devNotifications.RegisterDeviceInterfaceNotifications(hidGuid, HandleDeviceInterfaceChange, this);
    UpdateHidDevicesList();
    m_bInitialized = true;
    return ERROR_SUCCESS;
}

void CKvHidDeviceMgmt::Stop()
{
    m_devNotifications.UnInitialize();
    m_bInitialized = false;
}

// ---- Enumeration and updates ----

DWORD CKvHidDeviceMgmt::FindKnownHidDevices(_stHidDeviceEntry* entries, ULONG* count)
{
    KvDebugLogString(TEXT("Enumerating HID devices:\n"));
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO list = SetupDiGetClassDevsW(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (list == INVALID_HANDLE_VALUE)
        return LastErrorOrUnidentified();
    const ULONG capacity = *count;
    ULONG i = 0;
    for (; i < capacity; ++i)
    {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof interfaceData;
        if (!SetupDiEnumDeviceInterfaces(list, nullptr, &hidGuid, i, &interfaceData))
        {
            if (GetLastError() == ERROR_NO_MORE_ITEMS)
                break;
            continue;
        }
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, nullptr, 0, &required, nullptr);
        SP_DEVINFO_DATA info = {};
        info.cbSize = sizeof info;
        SetupDiEnumDeviceInfo(list, i, &info);
        bool bRes = ReadNameProperty(list, &info, SPDRP_FRIENDLYNAME, entries[i].name) ||
                    ReadNameProperty(list, &info, SPDRP_DEVICEDESC, entries[i].name);
        KV_ASSERT(bRes);
        if (!bRes)
            entries[i].name[0] = 0;

        const size_t bytes = required > sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)
                                 ? required
                                 : sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        auto* detail = static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(std::calloc(1, bytes));
        if (detail == nullptr)
        {
            SetupDiDestroyDeviceInfoList(list);
            *count = 0;
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        if (!SetupDiGetDeviceInterfaceDetailW(list, &interfaceData, detail, static_cast<DWORD>(bytes),
                                              nullptr, nullptr))
        {
            const DWORD error = LastErrorOrUnidentified();
            SetupDiDestroyDeviceInfoList(list);
            std::free(detail);
            return error;
        }
        KvDebugLog(TEXT("%ws"), detail->DevicePath);
        // A path that does not fit the entry is left out: the entry stays empty and opens nothing.
        if (wcslen(detail->DevicePath) < sizeof entries[i].path / sizeof(WCHAR))
            wcscpy_s(entries[i].path, detail->DevicePath);
        else
            KvDebugLog(TEXT("Interface path too long, left out: %ws\n"), detail->DevicePath);
        std::free(detail);
    }
    *count = i;
    SetupDiDestroyDeviceInfoList(list);
    return ERROR_SUCCESS;
}

DWORD CKvHidDeviceMgmt::UpdateHidDevicesList()
{
    _stHidDeviceEntry entries[MAX_ENUMERATED_DEVICES];
    std::memset(entries, 0, sizeof entries);
    ULONG count = MAX_ENUMERATED_DEVICES;
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::UpdateHidDevicesList", false, true, KV_LOCK_TIMEOUT_MS);
    FindKnownHidDevices(entries, &count);

    for (DWORD pos = 0; pos < MAX_HID_DEVICES; ++pos)
    {
        if (m_devices[pos] == nullptr)
            continue;
        LPCWSTR path = m_devices[pos]->GetDevice()->devicePath;
        bool listed = false;
        for (ULONG e = 0; path != nullptr && e < count && !listed; ++e)
            listed = _wcsicmp(path, entries[e].path) == 0;
        if (!listed)
            RemoveDevice(pos, true);
    }
    for (ULONG e = 0; e < count; ++e)
        if (FindDevice(entries[e].path) == nullptr)
            AddDevice(entries[e]);
    return ERROR_SUCCESS;
}

DWORD CKvHidDeviceMgmt::UpdateHidDevicesListTry()
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::UpdateHidDevicesListTry", false, false, KV_LOCK_TIMEOUT_MS);
    if (hold.Lock("CKvHidDeviceMgmt::UpdateHidDevicesListTry", 0) != 0)
        return ERROR_LOCK_FAILED;
    return UpdateHidDevicesList();
}

DWORD WINAPI CKvHidDeviceMgmt::UpdateHidDevicesListThreadProc(LPVOID param)
{
    CKvHidDeviceMgmt* pThis = static_cast<CKvHidDeviceMgmt*>(param);
    const PFN_UPDATE_RUNNER runner = pThis->m_pfnUpdateRunner;
    const DWORD result = runner ? runner() : pThis->UpdateHidDevicesList();
    --pThis->m_backgroundUpdates; // the last touch of the manager
    return result;
}

bool CKvHidDeviceMgmt::WaitBackgroundUpdates(DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    while (m_backgroundUpdates > 0)
    {
        if (GetTickCount() - start >= timeoutMs)
        {
            KvDebugLog(TEXT("CKvHidDeviceMgmt: a background update still runs"));
            return false;
        }
        Sleep(kBackgroundUpdatePollMs);
    }
    return true;
}

// ---- The table ----

DWORD CKvHidDeviceMgmt::AddDevice(const _stHidDeviceEntry& entry)
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::AddDevice", false, true, KV_LOCK_TIMEOUT_MS);
    if (FindDevicePos(entry.path) != INVALID_DEVICE_POS)
    {
        KV_ASSERT(false);
        return ERROR_ALREADY_EXISTS;
    }
    DWORD devPos = INVALID_DEVICE_POS;
    for (DWORD k = 0; k < MAX_HID_DEVICES && devPos == INVALID_DEVICE_POS; ++k)
        if (m_devices[(m_nextPos + k) % MAX_HID_DEVICES] == nullptr)
            devPos = (m_nextPos + k) % MAX_HID_DEVICES;
    if (devPos == INVALID_DEVICE_POS)
        return ERROR_TOO_MANY_OPEN_FILES;
    m_nextPos = (m_nextPos + 1) % MAX_HID_DEVICES;

    m_devices[devPos] = new (std::nothrow) CKvHidDeviceRaw(entry.path, entry.name);
    if (m_devices[devPos] == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    _stHidDevice* device = m_devices[devPos]->GetDevice();
    if (device->HidDevice == INVALID_HANDLE_VALUE)
    {
        RemoveDevice(devPos, false);
        return ERROR_UNSUPPORTED_TYPE;
    }
    device->hDevNotify =
        m_devNotifications.RegisterDeviceHandleNotification(device->HidDevice, HandleDeviceChange, this);
    AddNotification(NOTIF_DEVICE_ADDED, devPos);
    return ERROR_SUCCESS;
}

DWORD CKvHidDeviceMgmt::RemoveDevice(DWORD devPos, bool notify)
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::RemoveDevice", false, true, KV_LOCK_TIMEOUT_MS);
    if (devPos >= MAX_HID_DEVICES)
        return ERROR_NOT_FOUND;
    if (!m_devices[devPos])
    {
        KV_ASSERT(m_devices[devPos]);
        return ERROR_NOT_FOUND;
    }
    HDEVNOTIFY registration = m_devices[devPos]->GetDevice()->hDevNotify;
    if (registration != nullptr && registration != INVALID_HANDLE_VALUE)
        m_devNotifications.UnregisterDeviceHandleNotification(registration);
    CKvHidDeviceRaw::Destroy(m_devices[devPos]);
    m_devices[devPos] = nullptr;
    if (notify)
        AddNotification(NOTIF_DEVICE_REMOVED, devPos);
    return ERROR_SUCCESS;
}

DWORD CKvHidDeviceMgmt::FindDevicePos(LPCWSTR path)
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::FindDevicePos", false, true, KV_LOCK_TIMEOUT_MS);
    for (DWORD pos = 0; pos < MAX_HID_DEVICES; ++pos)
    {
        LPCWSTR devicePath = m_devices[pos] ? m_devices[pos]->GetDevice()->devicePath : nullptr;
        if (devicePath != nullptr && _wcsicmp(devicePath, path) == 0)
            return pos;
    }
    return INVALID_DEVICE_POS;
}

CKvHidDeviceRaw* CKvHidDeviceMgmt::FindDevice(LPCWSTR path)
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::FindDevice", false, true, KV_LOCK_TIMEOUT_MS);
    const DWORD devPos = FindDevicePos(path);
    return devPos == INVALID_DEVICE_POS ? nullptr : m_devices[devPos];
}

CKvHidDeviceRaw* CKvHidDeviceMgmt::GetDevice(DWORD devPos)
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::GetDevice", false, true, KV_LOCK_TIMEOUT_MS);
    CKvHidDeviceRaw* device = devPos < MAX_HID_DEVICES ? m_devices[devPos] : nullptr;
    if (device != nullptr)
        hold.KeepLockedOnRelease(true);
    return device;
}

DWORD CKvHidDeviceMgmt::ReleaseDevice()
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::ReleaseDevice", true, false, KV_LOCK_TIMEOUT_MS);
    hold.UnLock();
    return ERROR_SUCCESS;
}

DWORD CKvHidDeviceMgmt::GetCurrentDevices(DWORD* positions, ULONG capacity, ULONG* count)
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::GetCurrentDevices", false, true, KV_LOCK_TIMEOUT_MS);
    ULONG n = 0;
    for (DWORD pos = 0; pos < MAX_HID_DEVICES; ++pos)
        n += m_devices[pos] != nullptr;
    *count = 0;
    if (n > capacity)
        return ERROR_INSUFFICIENT_BUFFER;
    for (DWORD pos = 0; pos < MAX_HID_DEVICES; ++pos)
        if (m_devices[pos] != nullptr)
            positions[(*count)++] = pos;
    return ERROR_SUCCESS;
}

void CKvHidDeviceMgmt::CloseHidDevices()
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::CloseHidDevices", false, true, KV_LOCK_TIMEOUT_MS);
    // Every reader is told to stop (its read cancelled) first, so they all leave within one wait (on
    // Windows, under the loader lock, no thread can end at all, but a reader can leave the library's code).
    for (CKvHidDeviceRaw* device : m_devices)
        if (device != nullptr)
            device->RequestStop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kCloseWaitMs);
    if (!CKvHidDeviceRaw::WaitReadersLeft(deadline))
        KeepCodeForRunningReaders();
    for (CKvHidDeviceRaw*& device : m_devices)
    {
        if (device != nullptr)
            CKvHidDeviceRaw::DestroyAtClose(device, deadline);
        device = nullptr;
    }
}

// A reader still in the library after the close's wait (on Windows, one created just before the unload
// cannot start before the loader lock is let go) would run code that the unload unmaps: pin it instead.
void CKvHidDeviceMgmt::KeepCodeForRunningReaders()
{
    if (CKvModulePin::PinLibraryModules())
        KvDebugLogString(
            TEXT("CKvHidDeviceMgmt: a device's reader still runs in the library; it stays loaded\n"));
    else
        KvDebugLogString(TEXT("CKvHidDeviceMgmt: a device's reader still runs in the library\n"));
}

DWORD CKvHidDeviceMgmt::SetReadDeviceValuesCallback(DWORD devPos, ReadDeviceValuesCallback callback,
                                                    void* context)
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::SetReadDeviceValuesCallback", false, true, KV_LOCK_TIMEOUT_MS);
    if (devPos >= MAX_HID_DEVICES || m_devices[devPos] == nullptr)
        return ERROR_NOT_FOUND;
    m_devices[devPos]->SetReadValuesCallback(callback, context);
    return ERROR_SUCCESS;
}

// ---- The application's notification handler ----

void CKvHidDeviceMgmt::SetNotificationHandler(NotificationHandler handler, void* context)
{
    m_handlerPair.Set(handler, context);
}

void CKvHidDeviceMgmt::AddNotification(DWORD event, DWORD value)
{
    m_handlerPair.Send(event, value);
}

// ---- Receivers of the notification window ----

namespace
{
// A parked record's stamp is its arrival time (renewed when the table was busy); 0 = never stamped. A clock
// below the stamp counts as past the limit, so a wrap of the 32-bit tick count never keeps a record waiting.
bool InstallWaitTimedOut(DWORD stamp)
{
    const DWORD now = GetTickCount();
    return stamp != 0 && (now < stamp || now - stamp > kInstallWaitLimitMs);
}

// Past the install wait limit, a parked arrival is taken in once its own device is ready.
bool ReadyPastInstallWait(const DEV_BROADCAST_DEVICEINTERFACE_W* record)
{
    if (!InstallWaitTimedOut(record->dbcc_reserved))
        return false;
    KvDebugLog(TEXT("Device notification TIMED-OUT!"));
    if (!CKvDevNotifications::IsDeviceReady(record))
        return false;
    KvDebugLog(TEXT("Device pending wait timed-out. Processing command for %ws"), record->dbcc_name);
    return true;
}
} // namespace

DWORD CKvHidDeviceMgmt::HandleDeviceInterfaceChange(void* context, DWORD event,
                                                    DEV_BROADCAST_DEVICEINTERFACE_W* record)
{
    CKvHidDeviceMgmt* pThis = static_cast<CKvHidDeviceMgmt*>(context);
    switch (event)
    {
        case DBT_DEVICEARRIVAL:
            pThis->m_devNotifications.AddDeviceTimer(record, kArrivalRecheckMs, true);
            return 0;
        case DBT_DEVICEREMOVECOMPLETE:
            pThis->m_devNotifications.RemoveDeviceTimer(record);
            pThis->StartBackgroundUpdate(record);
            return 0;
        case DEVICE_TIMER_EXPIRED:
        {
            const DWORD waitResult = CMP_WaitNoPendingInstallEvents(0);
            if (waitResult == WAIT_OBJECT_0 || ReadyPastInstallWait(record))
                pThis->TakeIn(record);
            else if (waitResult == WAIT_TIMEOUT)
                pThis->m_devNotifications.AddDeviceTimer(record, kArrivalRecheckMs, false);
            else if (waitResult == WAIT_FAILED)
            {
                KV_ASSERT(false);
                pThis->TakeIn(record);
            }
            return 0;
        }
        default:
            return 0;
    }
}

// Brings the whole table up to date if it is free at once; a busy table sends the record round again, with
// the install wait limit started afresh.
void CKvHidDeviceMgmt::TakeIn(DEV_BROADCAST_DEVICEINTERFACE_W* record)
{
    if (UpdateHidDevicesListTry() != ERROR_SUCCESS)
        m_devNotifications.AddDeviceTimer(record, kArrivalRecheckMs, true);
}

// The message thread never waits for the table on a removal: a detached thread updates it. Without that
// thread the removal's record is parked as an arrival's is, so the message thread takes the table up when it
// is free and the removal is not lost.
void CKvHidDeviceMgmt::StartBackgroundUpdate(const DEV_BROADCAST_DEVICEINTERFACE_W* record)
{
    ++m_backgroundUpdates;
    HANDLE hThread =
        CreateThread(nullptr, 0, &CKvHidDeviceMgmt::UpdateHidDevicesListThreadProc, this, 0, nullptr);
    if (hThread)
    {
        CloseHandle(hThread);
        return;
    }
    --m_backgroundUpdates;
    KvDebugLog(TEXT("CKvHidDeviceMgmt: no thread for the update after an interface removal (error %u); the "
                    "message thread updates the table"),
               LastErrorOrUnidentified());
    m_devNotifications.AddDeviceTimer(record, kArrivalRecheckMs, true);
}

DWORD CKvHidDeviceMgmt::HandleDeviceChange(void* context, DWORD event, DEV_BROADCAST_HANDLE* dhp)
{
    CKvHidDeviceMgmt* pThis = static_cast<CKvHidDeviceMgmt*>(context);
    CLock hold(&pThis->m_devLock, "CKvHidDeviceMgmt::HandleDeviceChange", false, true, KV_LOCK_TIMEOUT_MS);
    const DWORD devPos = pThis->FindDeviceByNotificationHandle(dhp->dbch_hdevnotify);
    if (devPos == INVALID_DEVICE_POS)
    {
        KV_ASSERT(devPos != INVALID_DEVICE_POS);
        return 0;
    }
    // clang-format off
    KV_ASSERT(pThis->m_devices[devPos]->GetDevice()->HidDevice==dhp->dbch_handle);
    // clang-format on
    LPCWSTR path = pThis->m_devices[devPos]->GetDevice()->devicePath;
    switch (event)
    {
        case DBT_DEVICEQUERYREMOVE:
            KvDebugLog(TEXT("Query Remove (Handle Notification): %ws"), path);
            pThis->RemoveDevice(devPos, true);
            break;
        case DBT_DEVICEQUERYREMOVEFAILED:
            KvDebugLog(TEXT("Remove failed (Handle Notification):%ws"), path);
            KV_ASSERT(false);
            break;
        case DBT_DEVICEREMOVEPENDING:
            KvDebugLog(TEXT("Remove Pending (Handle Notification):%ws"), path);
            pThis->RemoveDevice(devPos, true);
            break;
        case DBT_DEVICEREMOVECOMPLETE:
            KvDebugLog(TEXT("Remove Complete (Handle Notification):%ws"), path);
            pThis->RemoveDevice(devPos, true);
            break;
        default:
            KvDebugLog(TEXT("Unknown (Handle Notification): %ws"), path);
            break;
    }
    return 0;
}

DWORD CKvHidDeviceMgmt::FindDeviceByNotificationHandle(HDEVNOTIFY hNotification)
{
    CLock hold(&m_devLock, "CKvHidDeviceMgmt::FindDeviceByNotificationHandle", false, true,
               KV_LOCK_TIMEOUT_MS);
    for (DWORD pos = 0; pos < MAX_HID_DEVICES; ++pos)
        if (m_devices[pos] != nullptr && m_devices[pos]->GetDevice()->hDevNotify == hNotification)
            return pos;
    KV_ASSERT(false);
    return INVALID_DEVICE_POS;
}
