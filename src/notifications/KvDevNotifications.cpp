#include "KvDevNotifications.h"

KVLOCK CKvDevNotifications::CreateWindowAssociationLock()
{
    KVLOCK lock = nullptr;
    CLock::CreateLockPrimitiveEx(&lock, "&m_hWindowAssociation", enLockTypeDefault);
    return lock;
}

CKvDevNotifications::CKvDevNotifications() : m_bInitialized(false)
{
    ++m_instanceCount;
}

CKvDevNotifications::~CKvDevNotifications()
{
    UnInitialize();
    --m_instanceCount;
}

// The message thread and its window arrive with the device-notification work; until then starting and
// stopping only track the state.
void CKvDevNotifications::Initialize()
{
    m_bInitialized = true;
}

void CKvDevNotifications::UnInitialize()
{
    m_bInitialized = false;
}
