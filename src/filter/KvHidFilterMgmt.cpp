#include "KvHidFilterMgmt.h"

#include "KvCallbackScope.h"
#include "KvCheck.h"

#include <chrono>
#include <cstring>
#include <thread>

CKvHidFilterMgmt::CKvHidFilterMgmt()
    : m_bInitialized(false), m_devLock(nullptr), m_notifLock(nullptr), m_bScriptRunning(false),
      m_runningNotifications(0), m_notifHandler(nullptr), m_notifContext(nullptr), m_filteredDevices()
{
    CLock::CreateLockPrimitiveEx(&m_devLock, "&m_devLock", enLockTypeDefault);
    CLock::CreateLockPrimitiveEx(&m_notifLock, "&m_notifLock", enLockTypeDefault);
}

CKvHidFilterMgmt::~CKvHidFilterMgmt()
{
    CLock::DeleteLockPrimitive(&m_devLock);
    CLock::DeleteLockPrimitive(&m_notifLock);
}

DWORD CKvHidFilterMgmt::Initialize()
{
    if (m_bInitialized)
    {
        KV_ASSERT(m_bInitialized == false);
        return ERROR_ALREADY_INITIALIZED;
    }
    // The service calls back only after registration below, so the slots need no lock here.
    std::memset(m_filteredDevices, 0, sizeof m_filteredDevices);
    for (FilteredDeviceSlot& slot : m_filteredDevices)
        slot.id = FILTER_SLOT_FREE;

    if (DWORD status = KvSCInitializeStatus())
        return status;
    KvSCStatusRegisterNotificationHandler(StatusNotificationCallback, this);
    const DWORD running = ReadScriptState();
    m_bInitialized = true;
    AddNotification(NOTIF_SCRIPT_STATE, running);
    return ERROR_SUCCESS;
}

DWORD CKvHidFilterMgmt::ReadScriptState()
{
    BYTE running = 0;
    KvSCStatusIsScriptRunning(&running);
    m_bScriptRunning = running != 0;
    return running != 0 ? 1 : 0;
}

int WINAPI CKvHidFilterMgmt::StatusNotificationCallback(void* context, _enKvServiceNotification code, DWORD,
                                                        void*)
{
    CKvHidFilterMgmt* pThis = static_cast<CKvHidFilterMgmt*>(context);
    ++pThis->m_runningNotifications;
    switch (code)
    {
        case enScriptStateChanged:
            KvDebugLogString(TEXT("Script state changed\n"));
            pThis->AddNotification(NOTIF_SCRIPT_STATE, pThis->ReadScriptState());
            break;
        case enDeviceInput:
            // Filtered input is translated into value records by the filtered-input translation, which
            // is not part of the library yet; until then the input is dropped.
            break;
        default:
            KV_ASSERT(false);
            break;
    }
    --pThis->m_runningNotifications;
    return 0;
}

bool CKvHidFilterMgmt::WaitNotificationsEnded(DWORD timeoutMs) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_runningNotifications != 0)
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void CKvHidFilterMgmt::AddNotification(DWORD event, DWORD value)
{
    CLock hold(&m_notifLock, "CKvHidFilterMgmt::AddNotification", false, true, KV_LOCK_TIMEOUT_MS);
    NotificationHandler handler = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_handlerGuard);
        handler = m_notifHandler;
        context = m_notifContext;
    }
    if (handler)
    {
        CKvCallbackScope callback;
        handler(event, value, context);
    }
}

// From inside a library callback the pair is replaced without waiting for "&m_notifLock" (see the device
// manager's SetNotificationHandler): the new pair serves the events that begin afterwards.
void CKvHidFilterMgmt::SetNotificationHandler(NotificationHandler handler, void* context)
{
    CLock hold(&m_notifLock, "CKvHidFilterMgmt::SetNotificationHandler", false,
               !CKvCallbackScope::InsideCallback(), KV_LOCK_TIMEOUT_MS);
    std::lock_guard<std::mutex> guard(m_handlerGuard);
    m_notifHandler = handler;
    m_notifContext = context;
}

int CKvHidFilterMgmt::GetDevicePos(DWORD id)
{
    CLock hold(&m_devLock, "CKvHidFilterMgmt::GetDevicePos", false, true, KV_LOCK_TIMEOUT_MS);
    for (int pos = 0; pos < static_cast<int>(MAX_FILTERED_DEVICES); ++pos)
        if (m_filteredDevices[pos].id == id)
            return pos;
    return -1;
}

DWORD CKvHidFilterMgmt::SetPolling(DWORD id, DWORD flag)
{
    CLock hold(&m_devLock, "CKvHidFilterMgmt::SetPolling", false, true, KV_LOCK_TIMEOUT_MS);
    const int pos = GetDevicePos(id);
    if (pos == -1)
        return ERROR_NOT_FOUND;
    m_filteredDevices[pos].polling = flag;
    return ERROR_SUCCESS;
}

DWORD CKvHidFilterMgmt::SetReadDeviceValuesCallback(DWORD id, ReadDeviceValuesCallback callback,
                                                    void* context)
{
    DWORD hRes = ERROR_SUCCESS;
    _stHidPhysicalInputData* pData = nullptr;
    if (callback)
    {
        // Asked before any lock is taken: the service may be slow.
        hRes = KvSCStatusGetSelectedDevicePhysicalCapabilities(id, &pData);
        KV_VERIFY(hRes);
        if (hRes != ERROR_SUCCESS)
            pData = nullptr;
    }

    CLock hold(&m_devLock, "CKvHidFilterMgmt::SetReadDeviceValuesCallback", false, true, KV_LOCK_TIMEOUT_MS);
    int pos = GetDevicePos(id);
    if (pos == -1)
    {
        if (!callback)
            return ERROR_NOT_FOUND;
        pos = GetDevicePos(FILTER_SLOT_FREE);
        if (pos == -1)
        {
            KV_ASSERT(pos != -1);
            if (pData)
                KvSCFree(pData);
            return ERROR_INSUFFICIENT_BUFFER;
        }
        m_filteredDevices[pos].id = id;
    }
    FilteredDeviceSlot& slot = m_filteredDevices[pos];
    if (callback)
    {
        KV_ASSERT(pData);
        if (pData)
        {
            std::memcpy(&slot.caps, pData, sizeof slot.caps);
            KvSCFree(pData);
        }
    }
    slot.callback = callback;
    slot.context = context;
    return hRes;
}
