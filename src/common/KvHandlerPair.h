// One manager's copy of the application's notification handler and its context. Events are sent with the
// manager's "&m_notifLock" held, which serialises deliveries; the pair itself is read and written under a
// short mutex never held while the handler runs, so a callback can replace it without waiting.
#pragma once

#include <windows.h>

#include "KvCommon.h"
#include "KvHidRaw.h"

#include <mutex>

class CKvHandlerPair
{
public:
    // notifLock is the manager's "&m_notifLock", created and deleted by the manager; setHolder and addHolder
    // name the holders of its SetNotificationHandler and AddNotification.
    CKvHandlerPair(KVLOCK* notifLock, const char* setHolder, const char* addHolder);
    CKvHandlerPair(const CKvHandlerPair&) = delete;
    CKvHandlerPair& operator=(const CKvHandlerPair&) = delete;

    void Set(NotificationHandler handler, void* context);
    void Send(DWORD event, DWORD value);

private:
    KVLOCK* const m_pNotifLock;
    const char* const m_szSetHolder;
    const char* const m_szAddHolder;
    std::mutex m_handlerGuard;
    NotificationHandler m_notifHandler;
    void* m_notifContext;
};
