// The table of up to 64 open physical HID devices and the application's notification handler.
#pragma once

#include <windows.h>

#include "KvCommon.h"
#include "KvDevNotifications.h"
#include "KvHidRaw.h"

#include <atomic>

class CKvHidDeviceRaw;

class CKvHidDeviceMgmt
{
public:
    CKvHidDeviceMgmt();
    ~CKvHidDeviceMgmt();
    CKvHidDeviceMgmt(const CKvHidDeviceMgmt&) = delete;
    CKvHidDeviceMgmt& operator=(const CKvHidDeviceMgmt&) = delete;

    DWORD Initialize();
    // The library's stop: notifications end, the open devices stay in the table.
    void Stop();
    bool IsStarted() const { return m_bInitialized; }

    void SetNotificationHandler(NotificationHandler handler, void* context);
    void AddNotification(DWORD event, DWORD value);

private:
    std::atomic<bool> m_bInitialized;
    KVLOCK m_devLock;
    KVLOCK m_notifLock;
    CKvHidDeviceRaw* m_devices[MAX_HID_DEVICES];
    CKvDevNotifications m_devNotifications;
    NotificationHandler m_notifHandler;
    void* m_notifContext;
    DWORD m_nextPos;
};
