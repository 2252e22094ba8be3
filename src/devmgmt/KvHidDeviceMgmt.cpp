#include "KvHidDeviceMgmt.h"

#include "KvCallbackScope.h"

CKvHidDeviceMgmt::CKvHidDeviceMgmt()
    : m_bInitialized(false), m_devLock(nullptr), m_notifLock(nullptr), m_devices(), m_notifHandler(nullptr),
      m_notifContext(nullptr), m_nextPos(0)
{
    CLock::CreateLockPrimitiveEx(&m_devLock, "&m_devLock", enLockTypeDefault);
    CLock::CreateLockPrimitiveEx(&m_notifLock, "&m_notifLock", enLockTypeDefault);
}

CKvHidDeviceMgmt::~CKvHidDeviceMgmt()
{
    if (m_bInitialized)
        Stop();
    // Closing the open devices arrives with the device table.
    CLock::DeleteLockPrimitive(&m_notifLock);
    CLock::DeleteLockPrimitive(&m_devLock);
}

// Enumeration and the notification window arrive with the device table; until then the start only
// brings up the notification object.
DWORD CKvHidDeviceMgmt::Initialize()
{
    if (m_bInitialized)
        return ERROR_ALREADY_INITIALIZED;
    m_devNotifications.Initialize();
    m_bInitialized = true;
    return ERROR_SUCCESS;
}

void CKvHidDeviceMgmt::Stop()
{
    m_devNotifications.UnInitialize();
    m_bInitialized = false;
}

void CKvHidDeviceMgmt::SetNotificationHandler(NotificationHandler handler, void* context)
{
    CLock hold(&m_notifLock, "CKvHidDeviceMgmt::SetNotificationHandler", false, true, KV_LOCK_TIMEOUT_MS);
    m_notifHandler = handler;
    m_notifContext = context;
}

void CKvHidDeviceMgmt::AddNotification(DWORD event, DWORD value)
{
    CLock hold(&m_notifLock, "CKvHidDeviceMgmt::AddNotification", false, true, KV_LOCK_TIMEOUT_MS);
    if (m_notifHandler)
    {
        CKvCallbackScope callback;
        m_notifHandler(event, value, m_notifContext);
    }
}
