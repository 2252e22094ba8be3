#include "KvHandlerPair.h"

#include "KvCallbackScope.h"

CKvHandlerPair::CKvHandlerPair(KVLOCK* notifLock, const char* setHolder, const char* addHolder)
    : m_pNotifLock(notifLock), m_szSetHolder(setHolder), m_szAddHolder(addHolder), m_notifHandler(nullptr),
      m_notifContext(nullptr)
{
}

// From inside a library callback the pair is replaced without waiting for "&m_notifLock": a delivery of
// this manager on another thread may be waiting for a lock that this callback's caller holds (a device
// event calling this while the service thread's handler calls it would otherwise cross the two managers'
// locks). The new pair serves the events that begin afterwards.
void CKvHandlerPair::Set(NotificationHandler handler, void* context)
{
    CLock hold(m_pNotifLock, m_szSetHolder, false, !CKvCallbackScope::InsideCallback(), KV_LOCK_TIMEOUT_MS);
    std::lock_guard<std::mutex> guard(m_handlerGuard);
    m_notifHandler = handler;
    m_notifContext = context;
}

void CKvHandlerPair::Send(DWORD event, DWORD value)
{
    CLock hold(m_pNotifLock, m_szAddHolder, false, true, KV_LOCK_TIMEOUT_MS);
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
