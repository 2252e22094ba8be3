// The library's side of filter mode: the connection to the filtering service, its script state, and the
// callbacks and polling flags of up to 16 filtered devices.
#pragma once

#include <windows.h>

#include "KvCommon.h"
#include "KvHidRaw.h"
#include "KvServiceControl.h"

#include <atomic>
#include <mutex>

#define FILTER_SLOT_FREE 0xFFFFFFFFu

struct FilteredDeviceSlot
{
    DWORD id; // FILTER_SLOT_FREE marks a free slot
    _stHidPhysicalInputData caps;
    DWORD polling;
    ReadDeviceValuesCallback callback;
    void* context;
};

class CKvHidFilterMgmt
{
public:
    CKvHidFilterMgmt();
    ~CKvHidFilterMgmt();
    CKvHidFilterMgmt(const CKvHidFilterMgmt&) = delete;
    CKvHidFilterMgmt& operator=(const CKvHidFilterMgmt&) = delete;

    DWORD Initialize();
    // The library's stop marks the manager stopped; the slots keep their contents until the next start.
    void MarkStopped() { m_bInitialized = false; }
    bool IsStarted() const { return m_bInitialized; }

    // Asks the service and remembers the answer: 1 when a script runs, else 0.
    DWORD ReadScriptState();

    static int WINAPI StatusNotificationCallback(void* context, _enKvServiceNotification code, DWORD param,
                                                 void* data);
    void AddNotification(DWORD event, DWORD value);
    void SetNotificationHandler(NotificationHandler handler, void* context);
    // Service notifications that are running in the library's code.
    unsigned RunningNotifications() const { return m_runningNotifications; }
    // Waits until no service notification runs in the library; false when the time ran out.
    bool WaitNotificationsEnded(DWORD timeoutMs) const;

    int GetDevicePos(DWORD id);
    DWORD SetPolling(DWORD id, DWORD flag);
    DWORD SetReadDeviceValuesCallback(DWORD id, ReadDeviceValuesCallback callback, void* context);

private:
    std::atomic<bool> m_bInitialized;
    KVLOCK m_devLock;
    KVLOCK m_notifLock;
    std::atomic<bool> m_bScriptRunning;
    std::atomic<unsigned> m_runningNotifications;
    NotificationHandler m_notifHandler;
    void* m_notifContext;
    FilteredDeviceSlot m_filteredDevices[MAX_FILTERED_DEVICES];
    // Guards the handler pair itself, never while the handler runs; "&m_notifLock" serialises deliveries.
    std::mutex m_handlerGuard;
};
