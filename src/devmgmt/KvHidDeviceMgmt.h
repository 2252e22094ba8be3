// The table of up to 64 open physical HID devices, their enumeration, and the application's notification
// handler.
#pragma once

#include <windows.h>

#include <dbt.h>

#include "KvCommon.h"
#include "KvDevNotifications.h"
#include "KvHandlerPair.h"
#include "KvHidRaw.h"

#include <atomic>

class CKvHidDeviceRaw;

#define INVALID_DEVICE_POS 0xFFFFFFFFu
// One enumeration considers at most this many HID interfaces.
#define MAX_ENUMERATED_DEVICES 16u

// One device found by an enumeration.
struct _stHidDeviceEntry
{
    WCHAR name[256]; // friendly name, else device description, else empty
    WCHAR path[256]; // interface path; empty when it did not fit
};

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
    // At process exit every other thread has ended: teardown then closes nothing and waits for no reader
    // (the system reclaims the handles; a lock a killed thread held would cost its whole timeout).
    void ForgetOnProcessExit() { m_bProcessExiting = true; }

    DWORD UpdateHidDevicesList();
    DWORD UpdateHidDevicesListTry();
    static DWORD WINAPI UpdateHidDevicesListThreadProc(LPVOID param);
    DWORD FindKnownHidDevices(_stHidDeviceEntry* entries, ULONG* count);
    DWORD AddDevice(const _stHidDeviceEntry& entry);
    DWORD RemoveDevice(DWORD devPos, bool notify);
    DWORD FindDevicePos(LPCWSTR path);
    CKvHidDeviceRaw* FindDevice(LPCWSTR path);
    // A non-null device stays lent, with "&m_devLock" held by the calling thread, until ReleaseDevice.
    CKvHidDeviceRaw* GetDevice(DWORD devPos);
    DWORD ReleaseDevice();
    DWORD GetCurrentDevices(DWORD* positions, ULONG capacity, ULONG* count);
    void CloseHidDevices();
    DWORD SetReadDeviceValuesCallback(DWORD devPos, ReadDeviceValuesCallback callback, void* context);

    void SetNotificationHandler(NotificationHandler handler, void* context);
    void AddNotification(DWORD event, DWORD value);

    // Receivers of the notification window, on its message thread. An arriving interface is parked under a
    // device timer and taken in once no installation is pending (or, after 10000 ms, once its device is
    // ready); an interface's removal starts a background update; a handle's query-remove, remove-pending or
    // remove-complete closes and drops its device at once.
    static DWORD HandleDeviceInterfaceChange(void* pThis, DWORD event,
                                             DEV_BROADCAST_DEVICEINTERFACE_W* record);
    static DWORD HandleDeviceChange(void* pThis, DWORD event, DEV_BROADCAST_HANDLE* dhp);
    DWORD FindDeviceByNotificationHandle(HDEVNOTIFY hNotification);

    // How a background update runs: the frame passes one that lets a start or stop asked for from its
    // device events wait until the update has let the table go. Null: the update runs directly.
    typedef DWORD (*PFN_UPDATE_RUNNER)();
    void SetBackgroundUpdateRunner(PFN_UPDATE_RUNNER runner) { m_pfnUpdateRunner = runner; }
    // Waits, at most timeoutMs, until no background update started by an interface removal still runs the
    // library's code. False when one still does.
    bool WaitBackgroundUpdates(DWORD timeoutMs);

private:
    void TakeIn(DEV_BROADCAST_DEVICEINTERFACE_W* record);
    void StartBackgroundUpdate(const DEV_BROADCAST_DEVICEINTERFACE_W* record);
    void KeepCodeForRunningReaders();

    std::atomic<bool> m_bInitialized;
    bool m_bProcessExiting;
    KVLOCK m_devLock;
    KVLOCK m_notifLock;
    CKvHidDeviceRaw* m_devices[MAX_HID_DEVICES];
    CKvDevNotifications m_devNotifications;
    // The application's handler, sent to under "&m_notifLock".
    CKvHandlerPair m_handlerPair;
    DWORD m_nextPos;
    std::atomic<PFN_UPDATE_RUNNER> m_pfnUpdateRunner;
    // Background updates started and not yet out of the library's code.
    std::atomic<int> m_backgroundUpdates;
};
