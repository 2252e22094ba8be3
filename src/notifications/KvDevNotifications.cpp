#include "KvDevNotifications.h"

#include "KvCheck.h"

#include <setupapi.h>

#include <cstdarg>
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>

// Two Win32 codes that winport's headers do not declare yet.
#ifndef ERROR_ALREADY_ASSIGNED
#define ERROR_ALREADY_ASSIGNED 85L
#endif
#ifndef ERROR_NOT_ENOUGH_QUOTA
#define ERROR_NOT_ENOUGH_QUOTA 1816L
#endif

namespace
{
const DWORD THREAD_START_TIMEOUT_MS = 1000;
const DWORD THREAD_STOP_TIMEOUT_MS = 2000;
const DWORD RETIRED_THREAD_POLL_MS = 10;
const size_t NAME_CHARS = 256;
const GUID GUID_NULL = {};
// RemoveDeviceTimer compares at most this many bytes of two records.
const DWORD TIMER_RECORD_COMPARE_LIMIT = 1024;
// SetupDiGetDeviceInstanceIdW's buffer, in characters.
const DWORD INSTANCE_ID_READ_CHARS = 256;
// Readiness: driver loaded and started, without a problem and not about to go.
const ULONG READY_STATUS = DN_DRIVER_LOADED | DN_STARTED;
const ULONG NOT_READY_STATUS = DN_HAS_PROBLEM | DN_WILL_BE_REMOVED;

// The window procedure reads the handle table without a lock: an entry's fields are atomic, and its
// registration handle is published after the other fields and read before them.
HDEVNOTIFY LoadRegistration(const _stHandleNotification& entry)
{
    return __atomic_load_n(&entry.hNotification, __ATOMIC_ACQUIRE);
}

void StoreRegistration(_stHandleNotification& entry, HDEVNOTIFY hNotification)
{
    __atomic_store_n(&entry.hNotification, hNotification, __ATOMIC_RELEASE);
}

template <typename T> T LoadField(const T& field)
{
    return __atomic_load_n(&field, __ATOMIC_RELAXED);
}

template <typename T> void StoreField(T& field, T value)
{
    __atomic_store_n(&field, value, __ATOMIC_RELAXED);
}

void FormatName(WCHAR (&buffer)[NAME_CHARS], LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    vswprintf_s(buffer, NAME_CHARS, format, args);
    va_end(args);
}

bool IsCurrentThread(HANDLE hThread)
{
    return hThread && GetThreadId(hThread) == GetCurrentThreadId();
}

LONG ReadCount(LONG volatile* count)
{
    return InterlockedCompareExchange(count, 0, 0);
}
} // namespace

KVLOCK CKvDevNotifications::CreateWindowAssociationLock()
{
    KVLOCK lock = nullptr;
    CLock::CreateLockPrimitiveEx(&lock, "&m_hWindowAssociation", enLockTypeDefault);
    return lock;
}

CKvDevNotifications::CKvDevNotifications()
    : m_bInitialized(false), m_pfnInterfaceCallback(nullptr), m_pInterfaceCallbackContext(nullptr),
      m_handleNotifications(), m_notificationsGuid(GUID_NULL), m_wndNotif(nullptr), m_hNotifThread(nullptr),
      m_hThreadStarted(nullptr), m_wndClass(), m_hInterfaceNotification(nullptr), m_deviceTimers(),
      m_hRetiredThread(nullptr), m_threadsInCode(0)
{
    ++m_instanceCount;
}

CKvDevNotifications::~CKvDevNotifications()
{
    KV_ASSERT(m_bInitialized == false);
    if (m_bInitialized)
        UnInitialize();
    KV_ASSERT(m_hInterfaceNotification == NULL);
    KV_ASSERT(m_hNotifThread == NULL);
    KV_ASSERT(m_wndNotif == NULL);
    ReapRetiredThread();
    UnregisterWindowClass();
    --m_instanceCount;
}

// ---- Start and stop ----

void CKvDevNotifications::Initialize()
{
    m_hThreadStarted = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    InterlockedIncrement(&m_threadsInCode);
    m_hNotifThread = CreateThread(nullptr, 0, &CKvDevNotifications::WindowMessageThread, this, 0, nullptr);
    KV_ASSERT(m_hNotifThread);
    if (!m_hNotifThread)
        InterlockedDecrement(&m_threadsInCode);
    const DWORD dwResult = WaitForSingleObject(m_hThreadStarted, THREAD_START_TIMEOUT_MS);
    KV_ASSERT(dwResult == WAIT_OBJECT_0);
    CloseHandle(m_hThreadStarted);
    m_hThreadStarted = nullptr;
    m_bInitialized = true;
}

void CKvDevNotifications::UnInitialize()
{
    UnregisterDeviceNotification(m_hInterfaceNotification);
    m_hInterfaceNotification = nullptr;
    for (_stHandleNotification& entry : m_handleNotifications)
    {
        const HDEVNOTIFY hNotification = LoadRegistration(entry);
        if (hNotification && hNotification != INVALID_HANDLE_VALUE)
            UnregisterDeviceHandleNotification(hNotification);
    }
    if (m_wndNotif)
        PostMessageW(m_wndNotif, WM_NOTIF_STOP, 0, 0);

    // Stopped from inside one of its own callbacks, the thread cannot be waited for, and its window must
    // outlive the callback: the loop ends on WM_NOTIF_STOP once the callback has returned.
    const bool bOnMessageThread = IsCurrentThread(m_hNotifThread);
    bool bEnded = !m_hNotifThread;
    if (m_hNotifThread && !bOnMessageThread)
    {
        const DWORD waitResult = WaitForSingleObject(m_hNotifThread, THREAD_STOP_TIMEOUT_MS);
        KV_ASSERT(waitResult == WAIT_OBJECT_0);
        bEnded = waitResult == WAIT_OBJECT_0;
    }
    m_hInterfaceNotification = nullptr;

    if (!bOnMessageThread)
        KV_ASSERT(GetWindowInstance(m_wndNotif) == NULL || !::IsWindow(m_wndNotif));
    RemoveWindowInstance(m_wndNotif);
    if (!bOnMessageThread)
        DestroyWindow(m_wndNotif);

    if (bEnded)
    {
        if (m_hNotifThread)
            CloseHandle(m_hNotifThread);
    }
    else
        RetireThread(m_hNotifThread);
    m_wndNotif = nullptr;
    m_hNotifThread = nullptr;
    m_bInitialized = false;
}

// Keeps the handle of a message thread that may still run this library's code (one at a time: an older one
// is waited for first).
void CKvDevNotifications::RetireThread(HANDLE hThread)
{
    ReapRetiredThread();
    m_hRetiredThread = hThread;
}

// Waits, at most the stop timeout, until no message thread runs this library's code any more, and closes
// the retired thread's handle. On Windows an unload holds the loader lock that a thread's exit needs, so the
// count of threads in this code, not the thread's handle, tells when the code may go.
void CKvDevNotifications::ReapRetiredThread()
{
    if (!m_hRetiredThread)
        return;
    const LONG staying = m_hNotifThread ? 1 : 0; // the thread being stopped now, if any
    const DWORD start = GetTickCount();
    while (!IsCurrentThread(m_hRetiredThread) && ReadCount(&m_threadsInCode) > staying &&
           WaitForSingleObject(m_hRetiredThread, RETIRED_THREAD_POLL_MS) == WAIT_TIMEOUT)
    {
        if (GetTickCount() - start >= THREAD_STOP_TIMEOUT_MS)
        {
            KvDebugLog(TEXT("CKvDevNotifications: a stopped message thread is still running"));
            break;
        }
    }
    CloseHandle(m_hRetiredThread);
    m_hRetiredThread = nullptr;
}

// The class is registered under the host's module handle, so it outlives this library unless it goes with
// it: at unload, when no window of it is left.
void CKvDevNotifications::UnregisterWindowClass()
{
    WCHAR className[NAME_CHARS];
    FormatName(className, TEXT("Kavrel Notify HID %d"), m_instanceCount);
    UnregisterClassW(className, GetModuleHandleW(nullptr));
}

// ---- The message thread ----

// Registers the class. A class of that name may be left from an earlier load of the library whose unload
// could not unregister it (on Windows the unload runs under the loader lock, so the old message thread and
// its window were still there): its window procedure went with that load, so it is replaced. A class that
// still has windows belongs to this load (a stopped message thread still ending) and serves as it is.
void CKvDevNotifications::RegisterWindowClass()
{
    if (RegisterClassW(&m_wndClass) || GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return;
    if (UnregisterClassW(m_wndClass.lpszClassName, m_wndClass.hInstance))
        RegisterClassW(&m_wndClass);
}

DWORD WINAPI CKvDevNotifications::WindowMessageThread(LPVOID pParam)
{
    CKvDevNotifications* pThis = static_cast<CKvDevNotifications*>(pParam);
    WCHAR className[NAME_CHARS];
    WCHAR title[NAME_CHARS];
    FormatName(className, TEXT("Kavrel Notify HID %d"), m_instanceCount);
    FormatName(title, TEXT("Kavrel HID Control App %d"), m_instanceCount);

    const HINSTANCE hInstance = GetModuleHandleW(nullptr);
    pThis->m_wndClass = WNDCLASSW();
    pThis->m_wndClass.lpfnWndProc = &CKvDevNotifications::NotifWndProc;
    pThis->m_wndClass.hInstance = hInstance;
    pThis->m_wndClass.lpszClassName = className;
    pThis->RegisterWindowClass();

    // The thread keeps its own window: after a stop that could not wait for it, the instance may already
    // have a newer one.
    const HWND hWnd =
        CreateWindowExW(0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, HWND_MESSAGE, nullptr, hInstance, nullptr);
    pThis->m_wndNotif = hWnd;
    if (!hWnd)
    {
        // No window, no messages: the thread ends at once rather than wait for a stop that cannot come.
        KvDebugLog(TEXT("CKvDevNotifications: the notification window could not be created"));
        SetEvent(pThis->m_hThreadStarted);
        InterlockedDecrement(&pThis->m_threadsInCode);
        return 0;
    }
    AssociateWindowInstance(hWnd, pThis);
    SetEvent(pThis->m_hThreadStarted);

    bool bKeepRunning = true;
    while (bKeepRunning)
    {
        MSG msg;
        const BOOL result = GetMessageW(&msg, hWnd, 0, 0);
        if (result == 0)
            break;
        if (result == -1)
        {
            KV_ASSERT(false);
            break;
        }
        if (msg.message == WM_NOTIF_STOP)
            bKeepRunning = false;
        if (msg.hwnd != hWnd)
            KvCheck::AssertFailed("msg.hwnd == pThis->m_wndNotif", __FILE__, __LINE__, __PRETTY_FUNCTION__);
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    RemoveWindowInstance(hWnd);
    InterlockedDecrement(&pThis->m_threadsInCode);
    return 0;
}

LRESULT CALLBACK CKvDevNotifications::NotifWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER)
    {
        if (CKvDevNotifications* pThis = GetWindowInstance(hWnd))
            pThis->ProcessDeviceTimer(wParam);
        return DefWindowProcW(hWnd, message, wParam, lParam);
    }
    if (message != WM_DEVICECHANGE || wParam == DBT_DEVNODES_CHANGED)
        return DefWindowProcW(hWnd, message, wParam, lParam);
    CKvDevNotifications* pThis = GetWindowInstance(hWnd);
    KV_ASSERT(pThis);
    // Only the DBT_DEVICEARRIVAL .. DBT_CUSTOMEVENT family carries a record.
    if (!pThis || (wParam & 0xC000) != 0x8000 || !lParam)
        return DefWindowProcW(hWnd, message, wParam, lParam);

    const DWORD event = static_cast<DWORD>(wParam);
    DEV_BROADCAST_HDR* pHeader = reinterpret_cast<DEV_BROADCAST_HDR*>(lParam);
    if (pHeader->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
    {
        KvDebugLog(TEXT("DeviceInterface Notification!"));
        if (pThis->m_pfnInterfaceCallback)
            pThis->m_pfnInterfaceCallback(pThis->m_pInterfaceCallbackContext, event,
                                          reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam));
    }
    else if (pHeader->dbch_devicetype == DBT_DEVTYP_HANDLE)
    {
        KvDebugLog(TEXT("DeviceHandle Notification!"));
        DEV_BROADCAST_HANDLE* pRecord = reinterpret_cast<DEV_BROADCAST_HANDLE*>(lParam);
        const _stHandleNotification* pEntry = pThis->FindHandleEntry(pRecord->dbch_handle);
        const bool bFound = pEntry != nullptr;
        KV_ASSERT(bFound);
        const PFN_DEVICE_HANDLE_CALLBACK pfnCallback = bFound ? LoadField(pEntry->pfnCallback) : nullptr;
        if (pfnCallback)
            pfnCallback(LoadField(pEntry->pContext), event, pRecord);
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

const _stHandleNotification* CKvDevNotifications::FindHandleEntry(HANDLE hDevice) const
{
    for (const _stHandleNotification& entry : m_handleNotifications)
        if (LoadRegistration(entry) && LoadField(entry.hDevice) == hDevice)
            return &entry;
    return nullptr;
}

// ---- Registrations ----

void CKvDevNotifications::RegisterDeviceInterfaceNotifications(const GUID& interfaceClass,
                                                               PFN_DEVICE_INTERFACE_CALLBACK callback,
                                                               void* context)
{
    KV_ASSERT(m_notificationsGuid == GUID_NULL);
    // clang-format off
    KV_ASSERT(m_wndNotif!=NULL && m_wndNotif!=INVALID_HANDLE_VALUE);
    // clang-format on
    KV_ASSERT(m_hInterfaceNotification == NULL);

    m_notificationsGuid = interfaceClass;
    m_pfnInterfaceCallback = callback;
    m_pInterfaceCallbackContext = context;

    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = interfaceClass;
    m_hInterfaceNotification = RegisterDeviceNotificationW(m_wndNotif, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    KV_ASSERT(m_hInterfaceNotification);
}

HDEVNOTIFY CKvDevNotifications::RegisterDeviceHandleNotification(HANDLE hDevice,
                                                                 PFN_DEVICE_HANDLE_CALLBACK callback,
                                                                 void* context)
{
    DEV_BROADCAST_HANDLE filter = {};
    filter.dbch_size = sizeof(filter);
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = hDevice;
    const HDEVNOTIFY hNotification =
        RegisterDeviceNotificationW(m_wndNotif, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (!hNotification)
        return nullptr;

    for (_stHandleNotification& entry : m_handleNotifications)
    {
        if (!LoadRegistration(entry))
        {
            StoreField(entry.hDevice, hDevice);
            StoreField(entry.pfnCallback, callback);
            StoreField(entry.pContext, context);
            StoreRegistration(entry, hNotification);
            break;
        }
    }
    return hNotification;
}

DWORD CKvDevNotifications::UnregisterDeviceHandleNotification(HDEVNOTIFY hNotification)
{
    if (!hNotification || hNotification == INVALID_HANDLE_VALUE)
        return ERROR_INVALID_HANDLE;
    for (_stHandleNotification& entry : m_handleNotifications)
    {
        if (LoadRegistration(entry) == hNotification)
        {
            StoreRegistration(entry, nullptr);
            break;
        }
    }
    UnregisterDeviceNotification(hNotification);
    return ERROR_SUCCESS;
}

// ---- Window associations ----

void CKvDevNotifications::AssociateWindowInstance(HWND hWnd, CKvDevNotifications* pInstance)
{
    CLock hold(&m_hWindowAssociation, "CKvDevNotifications::AssociateWindowInstance", false, true,
               KV_LOCK_TIMEOUT_MS);
    _stWindowAssociation* pFree = nullptr;
    for (_stWindowAssociation& association : m_windowAssociations)
    {
        if (association.hWnd == hWnd)
        {
            KV_ASSERT(false);
            return;
        }
        if (!association.hWnd && !pFree)
            pFree = &association;
    }
    if (!pFree)
    {
        KV_ASSERT(false);
        return;
    }
    pFree->hWnd = hWnd;
    pFree->pInstance = pInstance;
}

CKvDevNotifications* CKvDevNotifications::GetWindowInstance(HWND hWnd)
{
    CLock hold(&m_hWindowAssociation, "CKvDevNotifications::GetWindowInstance", false, true,
               KV_LOCK_TIMEOUT_MS);
    for (const _stWindowAssociation& association : m_windowAssociations)
        if (association.hWnd == hWnd)
            return association.pInstance;
    return nullptr;
}

void CKvDevNotifications::RemoveWindowInstance(HWND hWnd)
{
    CLock hold(&m_hWindowAssociation, "CKvDevNotifications::RemoveWindowInstance", false, true,
               KV_LOCK_TIMEOUT_MS);
    for (_stWindowAssociation& association : m_windowAssociations)
    {
        if (association.hWnd == hWnd)
        {
            association.hWnd = nullptr;
            return;
        }
    }
}

// ---- Device timers ----

namespace
{
// Equal records, the time stamps left out (they live in dbcc_reserved); at most the first 1024 bytes.
bool SameInterfaceRecord(const DEV_BROADCAST_DEVICEINTERFACE_W* parked,
                         const DEV_BROADCAST_DEVICEINTERFACE_W* record)
{
    if (parked->dbcc_size != record->dbcc_size)
        return false;
    const DWORD size = std::min<DWORD>(record->dbcc_size, TIMER_RECORD_COMPARE_LIMIT);
    const size_t stampAt = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_reserved);
    const size_t afterStamp = stampAt + sizeof(DWORD);
    const BYTE* a = reinterpret_cast<const BYTE*>(parked);
    const BYTE* b = reinterpret_cast<const BYTE*>(record);
    if (size <= stampAt)
        return std::memcmp(a, b, size) == 0;
    return std::memcmp(a, b, stampAt) == 0 &&
           (size <= afterStamp || std::memcmp(a + afterStamp, b + afterStamp, size - afterStamp) == 0);
}
} // namespace

DWORD CKvDevNotifications::AddDeviceTimer(const DEV_BROADCAST_DEVICEINTERFACE_W* record, DWORD periodMs,
                                          bool stamp)
{
    if (record->dbcc_size == 0)
        return ERROR_INVALID_PARAMETER;
    // A record shorter than its header still gets a whole header, zero-filled, for the stamp to go into.
    BYTE* bytes = new (std::nothrow) BYTE[std::max<size_t>(record->dbcc_size, sizeof *record)]();
    if (!bytes)
        return ERROR_NOT_ENOUGH_MEMORY;
    std::memcpy(bytes, record, record->dbcc_size);
    auto* copy = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(bytes);
    if (stamp)
        copy->dbcc_reserved = GetTickCount();

    CLock hold(&m_hWindowAssociation, "CKvDevNotifications::AddDeviceTimer", false, true, KV_LOCK_TIMEOUT_MS);
    int pos = -1;
    bool bEqual = false;
    for (int slot = 0; slot < MAX_DEVICE_TIMERS && !bEqual; ++slot)
    {
        const DEV_BROADCAST_DEVICEINTERFACE_W* parked = m_deviceTimers[slot];
        if (parked && parked->dbcc_size == copy->dbcc_size && std::memcmp(parked, copy, copy->dbcc_size) == 0)
        {
            pos = slot;
            bEqual = true;
        }
        else if (!parked && pos == -1)
            pos = slot;
    }
    if (pos == -1)
    {
        KV_ASSERT(pos != -1);
        hold.UnLock();
        delete[] bytes;
        return ERROR_NOT_ENOUGH_QUOTA;
    }
    SetTimer(m_wndNotif, static_cast<UINT_PTR>(pos), periodMs, nullptr);
    if (bEqual)
    {
        hold.UnLock();
        delete[] bytes;
        return ERROR_ALREADY_ASSIGNED;
    }
    m_deviceTimers[pos] = copy;
    return ERROR_SUCCESS;
}

DWORD CKvDevNotifications::RemoveDeviceTimer(const DEV_BROADCAST_DEVICEINTERFACE_W* record)
{
    CLock hold(&m_hWindowAssociation, "CKvDevNotifications::RemoveDeviceTimer", false, true,
               KV_LOCK_TIMEOUT_MS);
    for (int slot = 0; slot < MAX_DEVICE_TIMERS; ++slot)
    {
        DEV_BROADCAST_DEVICEINTERFACE_W* parked = m_deviceTimers[slot];
        if (!parked || !SameInterfaceRecord(parked, record))
            continue;
        KillTimer(m_wndNotif, static_cast<UINT_PTR>(slot));
        KvDebugLog(TEXT("Device timer removed for %ws"), record->dbcc_name);
        delete[] reinterpret_cast<BYTE*>(parked);
        m_deviceTimers[slot] = nullptr;
        return ERROR_SUCCESS;
    }
    return ERROR_NOT_FOUND;
}

DWORD CKvDevNotifications::ProcessDeviceTimer(UINT_PTR timerId)
{
    CLock hold(&m_hWindowAssociation, "CKvDevNotifications::ProcessDeviceTimer", false, true,
               KV_LOCK_TIMEOUT_MS);
    if (timerId >= static_cast<UINT_PTR>(MAX_DEVICE_TIMERS) || !m_deviceTimers[timerId])
        return ERROR_INVALID_ADDRESS;
    DEV_BROADCAST_DEVICEINTERFACE_W* record = m_deviceTimers[timerId];
    m_deviceTimers[timerId] = nullptr;
    KillTimer(m_wndNotif, timerId);
    hold.UnLock();

    if (m_pfnInterfaceCallback)
        m_pfnInterfaceCallback(m_pInterfaceCallbackContext, DEVICE_TIMER_EXPIRED, record);
    delete[] reinterpret_cast<BYTE*>(record);
    return ERROR_SUCCESS;
}

// ---- Readiness of the device behind an interface ----

void CKvDevNotifications::InterfaceNameToInstanceId(LPCWSTR interfacePath,
                                                    WCHAR (&instanceId)[INSTANCE_ID_CHARS])
{
    WCHAR text[INSTANCE_ID_CHARS] = {};
    // "\\?\" opens every interface path.
    if (wcslen(interfacePath) > 4)
        wcscpy_s(text, INSTANCE_ID_CHARS, interfacePath + 4);
    // The last part names the interface class, not the device.
    for (size_t i = wcslen(text); i >= 1; --i)
    {
        if (text[i] == TEXT('#'))
        {
            text[i] = 0;
            break;
        }
    }
    if (text[0] != 0)
        for (WCHAR* c = text; *c; ++c)
            if (*c == TEXT('#'))
                *c = TEXT('\\');
    _wcsupr(text);
    wcsncpy_s(instanceId, INSTANCE_ID_CHARS, text, INSTANCE_ID_CHARS);
}

DEVINST CKvDevNotifications::GetInstanceIdForDeviceNotification(const DEV_BROADCAST_DEVICEINTERFACE_W* dip)
{
    KV_ASSERT(wcslen(dip->dbcc_name) > 4);
    WCHAR wanted[INSTANCE_ID_CHARS];
    InterfaceNameToInstanceId(dip->dbcc_name, wanted);
    HDEVINFO hinfoset =
        SetupDiGetClassDevsW(&dip->dbcc_classguid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (!hinfoset || hinfoset == INVALID_HANDLE_VALUE)
    {
        KV_ASSERT(hinfoset && hinfoset != INVALID_HANDLE_VALUE);
        if (hinfoset == INVALID_HANDLE_VALUE)
            KvDebugLog(TEXT("GetInstanceIdForDeviceNotification: Could not get devices!"));
        return 0;
    }
    DEVINST devInst = 0;
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    for (DWORD i = 0; devInst == 0 && SetupDiEnumDeviceInfo(hinfoset, i, &info); ++i)
    {
        WCHAR id[INSTANCE_ID_READ_CHARS];
        if (!SetupDiGetDeviceInstanceIdW(hinfoset, &info, id, INSTANCE_ID_READ_CHARS, nullptr))
        {
            KV_ASSERT(false);
            continue;
        }
        if (wcscmp(id, wanted) == 0)
            devInst = info.DevInst;
    }
    SetupDiDestroyDeviceInfoList(hinfoset);
    return devInst;
}

DWORD CKvDevNotifications::GetInstallStateForDeviceNotification(const DEV_BROADCAST_DEVICEINTERFACE_W* dip)
{
    DWORD state = CM_INSTALL_STATE_FINISH_INSTALL;
    KV_ASSERT(wcslen(dip->dbcc_name) > 4);
    WCHAR wanted[INSTANCE_ID_CHARS];
    InterfaceNameToInstanceId(dip->dbcc_name, wanted);
    HDEVINFO hinfoset =
        SetupDiGetClassDevsW(&dip->dbcc_classguid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    bool bFound = false;
    if (!hinfoset || hinfoset == INVALID_HANDLE_VALUE)
    {
        KV_ASSERT(hinfoset && hinfoset != INVALID_HANDLE_VALUE);
        if (hinfoset == INVALID_HANDLE_VALUE)
        {
            KvDebugLog(TEXT("GetInstanceIdForDeviceNotification: Could not get devices!"));
            return GetLastError();
        }
        KV_ASSERT(bFound);
        return state;
    }
    SP_DEVINFO_DATA info = {};
    info.cbSize = sizeof info;
    for (DWORD i = 0; !bFound && SetupDiEnumDeviceInfo(hinfoset, i, &info); ++i)
    {
        WCHAR id[INSTANCE_ID_READ_CHARS];
        BOOL bRes = SetupDiGetDeviceInstanceIdW(hinfoset, &info, id, INSTANCE_ID_READ_CHARS, nullptr);
        if (!bRes)
        {
            KV_ASSERT(bRes);
            continue;
        }
        if (wcscmp(id, wanted) != 0)
            continue;
        bFound = true;
        bRes = SetupDiGetDeviceRegistryPropertyW(hinfoset, &info, SPDRP_INSTALL_STATE, nullptr,
                                                 reinterpret_cast<PBYTE>(&state), sizeof state, nullptr);
        if (!bRes)
        {
            KV_ASSERT(bRes);
            state = CM_INSTALL_STATE_FINISH_INSTALL;
        }
    }
    KV_ASSERT(bFound);
    SetupDiDestroyDeviceInfoList(hinfoset);
    return state;
}

bool CKvDevNotifications::IsDeviceReady(const DEV_BROADCAST_DEVICEINTERFACE_W* record)
{
    const DEVINST devInst = GetInstanceIdForDeviceNotification(record);
    if (devInst == 0)
    {
        KV_ASSERT(devInst != 0);
        return false;
    }
    ULONG status = 0;
    ULONG problem = 0;
    const CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, devInst, 0);
    const DWORD installState = GetInstallStateForDeviceNotification(record);
    KvDebugLog(TEXT("IsDeviceReady install: 0x%08X   status: 0x%08X   problem: 0x%08X  (%ws)"), installState,
               status, problem, record->dbcc_name);
    if (result != CR_SUCCESS)
    {
        KV_ASSERT(result == CR_SUCCESS);
        return false;
    }
    if (status & DN_HAS_PROBLEM)
    {
        KvDebugLog(TEXT("IsDeviceReady: Device install problem: 0x%08X\n"), problem);
        return false;
    }
    if ((status & READY_STATUS) != READY_STATUS || (status & NOT_READY_STATUS) != 0 ||
        installState != CM_INSTALL_STATE_INSTALLED)
        return false;
    KvDebugLog(TEXT("Device READY!"));
    return true;
}
