// The library's view of device arrival and removal: a hidden message-only window on a message thread of its
// own, registered for the events of one device-interface class and for the events of each opened device's
// file handle. The object interprets nothing: interface events go to one callback, each handle's events to
// the callback registered with that handle, all of them on the message thread, one at a time.
#pragma once

#include <windows.h>

#include <cfgmgr32.h>
#include <dbt.h>

#include "KvCommon.h"

class CKvDevNotifications;

// Private message that ends the message loop once it has been dispatched (both parameters 0).
constexpr UINT WM_NOTIF_STOP = WM_USER + 0x100;
// Event code handed to the interface callback when a device timer fires (the value of DBT_CUSTOMEVENT).
constexpr DWORD DEVICE_TIMER_EXPIRED = DBT_CUSTOMEVENT;

// Receivers of forwarded events: (context, the low 32 bits of WM_DEVICECHANGE's wParam, the record the system
// sent). The record lives only for the call. No caller reads the result.
typedef DWORD (*PFN_DEVICE_INTERFACE_CALLBACK)(void* context, DWORD event,
                                               DEV_BROADCAST_DEVICEINTERFACE_W* record);
typedef DWORD (*PFN_DEVICE_HANDLE_CALLBACK)(void* context, DWORD event, DEV_BROADCAST_HANDLE* record);

// One registered device handle. A null hNotification marks a free entry; it is stored last, so the window
// procedure, which reads the table without a lock, never sees a half-filled entry.
struct _stHandleNotification
{
    HDEVNOTIFY hNotification;
    HANDLE hDevice;
    PFN_DEVICE_HANDLE_CALLBACK pfnCallback;
    void* pContext;
};

// Maps a window to the instance that owns it; a null hWnd marks a free entry.
struct _stWindowAssociation
{
    HWND hWnd;
    CKvDevNotifications* pInstance;
};

class CKvDevNotifications
{
public:
    static const int MAX_HANDLE_NOTIFICATIONS = 64;
    static const int MAX_DEVICE_TIMERS = 32;
    static const int MAX_WINDOW_ASSOCIATIONS = 8;
    // A device instance id with its terminator.
    static const size_t INSTANCE_ID_CHARS = 260;

    CKvDevNotifications();
    // Stops the object if it is still started, waits (at most 2000 ms) for a stopped message thread that is
    // still in this library's code, and unregisters the window class: the library is about to go.
    ~CKvDevNotifications();
    CKvDevNotifications(const CKvDevNotifications&) = delete;
    CKvDevNotifications& operator=(const CKvDevNotifications&) = delete;

    // Starts the message thread and returns once its window exists (at most 1000 ms later).
    void Initialize();
    // Drops every registration, ends the message thread (waiting at most 2000 ms) and forgets the window.
    // Called on the message thread itself (from inside a callback) it does not wait: the thread ends once
    // the callback has returned.
    void UnInitialize();
    bool IsInitialized() const { return m_bInitialized; }

    // Registers the window for the interface class's arrivals and removals; from then on they reach the
    // callback on the message thread, with the context as first argument.
    void RegisterDeviceInterfaceNotifications(const GUID& interfaceClass,
                                              PFN_DEVICE_INTERFACE_CALLBACK callback, void* context);
    // Registers the window for the events of an opened device's handle and records the entry (64 at most;
    // beyond that the system registration stands but its events find no entry). Null when the system refused.
    HDEVNOTIFY RegisterDeviceHandleNotification(HANDLE hDevice, PFN_DEVICE_HANDLE_CALLBACK callback,
                                                void* context);
    // 0, or ERROR_INVALID_HANDLE (6) for a null or invalid registration handle (nothing is called then).
    // Handle registrations come and go on any thread, the message thread included (inside an event).
    DWORD UnregisterDeviceHandleNotification(HDEVNOTIFY hNotification);

    // Device timers: up to 32 parked copies of interface records, each under a one-shot window timer whose id
    // is its slot. Called on the message thread; the table is guarded by "&m_hWindowAssociation", which is
    // let go before the interface callback runs, so the callback may park and remove records freely.
    // With stamp set the copy's dbcc_reserved takes GetTickCount(); an equal record already parked (stamp
    // included) has its timer restarted (ERROR_ALREADY_ASSIGNED).
    DWORD AddDeviceTimer(const DEV_BROADCAST_DEVICEINTERFACE_W* record, DWORD periodMs, bool stamp);
    // Drops the first parked copy equal to the record when the stamps are left out.
    DWORD RemoveDeviceTimer(const DEV_BROADCAST_DEVICEINTERFACE_W* record);
    // A timer fired: its record leaves the table and is lent to the interface callback
    // (DEVICE_TIMER_EXPIRED).
    DWORD ProcessDeviceTimer(UINT_PTR timerId);

    // Readiness of the device behind an interface record.
    static void InterfaceNameToInstanceId(LPCWSTR interfacePath, WCHAR (&instanceId)[INSTANCE_ID_CHARS]);
    static DEVINST GetInstanceIdForDeviceNotification(const DEV_BROADCAST_DEVICEINTERFACE_W* record);
    static DWORD GetInstallStateForDeviceNotification(const DEV_BROADCAST_DEVICEINTERFACE_W* record);
    static bool IsDeviceReady(const DEV_BROADCAST_DEVICEINTERFACE_W* record);

    // The window associations, under "&m_hWindowAssociation".
    static void AssociateWindowInstance(HWND hWnd, CKvDevNotifications* pInstance);
    static CKvDevNotifications* GetWindowInstance(HWND hWnd);
    static void RemoveWindowInstance(HWND hWnd);

    // The message thread's routine (the parameter is the instance) and the window procedure.
    static DWORD WINAPI WindowMessageThread(LPVOID pParam);
    static LRESULT CALLBACK NotifWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    // Class-wide data, defined with the library's other globals and created before any instance.
    static KVLOCK CreateWindowAssociationLock();
    static KVLOCK m_hWindowAssociation;
    static _stWindowAssociation m_windowAssociations[MAX_WINDOW_ASSOCIATIONS];
    static LONG m_instanceCount;

private:
    void RegisterWindowClass();
    void UnregisterWindowClass();
    void RetireThread(HANDLE hThread);
    void ReapRetiredThread();
    const _stHandleNotification* FindHandleEntry(HANDLE hDevice) const;

    bool m_bInitialized;
    PFN_DEVICE_INTERFACE_CALLBACK m_pfnInterfaceCallback;
    void* m_pInterfaceCallbackContext;
    _stHandleNotification m_handleNotifications[MAX_HANDLE_NOTIFICATIONS];
    GUID m_notificationsGuid;
    HWND m_wndNotif;
    HANDLE m_hNotifThread;
    HANDLE m_hThreadStarted;
    WNDCLASSW m_wndClass;
    HDEVNOTIFY m_hInterfaceNotification;
    DEV_BROADCAST_DEVICEINTERFACE_W* m_deviceTimers[MAX_DEVICE_TIMERS];
    // A message thread that outlived its stop (stopped from its own callback, or still busy when the wait
    // ran out): it still runs this library's code, so the destructor waits for it before the code can go.
    HANDLE m_hRetiredThread;
    // Message threads started and not yet out of this library's code.
    LONG volatile m_threadsInCode;
};
