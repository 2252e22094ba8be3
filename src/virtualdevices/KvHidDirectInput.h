// The system keyboard and mouse as two virtual devices, read through DirectInput 8 and polled by two timers
// of one timer queue every 120 ms. Device index 0 is the keyboard (id 256), 1 the mouse (id 257).
//
// Locks: "&m_devLock" guards the callbacks and contexts; "&m_timerLock" guards the queue, the timer
// handles and the devices' capabilities. Neither is held while a timer is waited for or while the
// application's callback runs, so a callback may switch polling or stop the library: from a tick's own thread
// nothing waits for the tick.
#pragma once

#include <windows.h>

#include <dinput.h>

#include "KvCommon.h"
#include "KvHidRaw.h"

#include <atomic>

#define VIRTUAL_KEYBOARD_INDEX 0
#define VIRTUAL_MOUSE_INDEX 1
#define VIRTUAL_DEV_COUNT 2
#define POLL_PERIOD_MS 120
#define VIRTUAL_DEV_BUFFER_SIZE 1024

class CKvHidDirectInput;

struct VirtualDevDelivery
{
    std::atomic<DWORD> polling; // 0 = off; written by KvHRSetPolling, read by the ticks
    ReadDeviceValuesCallback callback;
    void* context;
};

// The timer's parameter: the address of the slot names the object and the device.
struct PollTimerSlot
{
    CKvHidDirectInput* owner;
    DWORD devIndex;
    HANDLE timer;              // INVALID_HANDLE_VALUE = none; guarded by "&m_timerLock"
    std::atomic<bool> running; // set before the timer is created, cleared by a stop: read by every delivery
};

class CKvHidDirectInput
{
public:
    CKvHidDirectInput();
    virtual ~CKvHidDirectInput();
    CKvHidDirectInput(const CKvHidDirectInput&) = delete;
    CKvHidDirectInput& operator=(const CKvHidDirectInput&) = delete;

    // Sets up afresh on every call: whatever an earlier call set up is released first, so polling is off
    // and no callback is set afterwards.
    DWORD Initialize();
    HRESULT SetupDevice(const DIDEVICEINSTANCEW& instance, int index);
    static BOOL CALLBACK EnumDevicesCallback(LPCDIDEVICEINSTANCEW instance, LPVOID pThis);
    static BOOL CALLBACK EnumObjectsCallback(LPCDIDEVICEOBJECTINSTANCEW object, LPVOID pThis);

    DWORD GetVirtualDevCapabilities(DWORD index, _stHidCapability* buffer, uint32_t* capacity) const;
    void SetPolling(DWORD index, BOOL poll) { m_virtualDevs[index].polling = poll ? 1 : 0; }
    // Starts the device's timer unless it already runs (then 0: one timer per device at most).
    DWORD StartPollingTimer(DWORD index);
    // Ends both timers; waits for a running tick unless called from a tick, which is never waited for.
    void StopPollingTimers();
    static VOID CALLBACK PollTimerCallback(PVOID parameter, BOOLEAN fired);
    DWORD ReadVirtualDevValues(DWORD index);
    DWORD SetReadVirtualDevValuesCallback(DWORD index, ReadDeviceValuesCallback callback, void* context);

    // The stop: deletes both timers and the queue, waiting for a running tick and for the queue's thread
    // (neither from a tick's own thread), and releases the DirectInput interfaces.
    void DeletePollingQueue();
    // The same under the loader lock (last detach, static teardown): a thread cannot end while it is held,
    // so a running tick is waited for but the queue's thread is not; it ends on its own afterwards.
    void DeletePollingQueueOnUnload();
    // At process exit the system has ended every other thread, the queue's too: a wait for it would never
    // return, and a release may wait for DirectInput's own thread. The system reclaims queue, timers and
    // interfaces; the object only forgets them, so that its teardown finds nothing to delete.
    void ForgetOnProcessExit();

private:
    void ResetState();
    void ReleaseInterfaces();
    void DeleteQueue(HANDLE queueEvent);
    HANDLE TakeTimer(DWORD index);
    static void DeleteTimer(HANDLE queue, HANDLE timer);
    bool NextDelivery(DWORD index, ReadDeviceValuesCallback* callback, void** context);
    void Deliver(DWORD index, const DIDEVICEOBJECTDATA& event, ReadDeviceValuesCallback callback,
                 void* context) const;
    DIDEVCAPS MouseCaps() const;

    HANDLE m_hTimerQueue;
    DIDEVCAPS m_devCaps[VIRTUAL_DEV_COUNT];
    IDirectInput8W* m_pDirectInput;
    IDirectInputDevice8W* m_pDevices[VIRTUAL_DEV_COUNT];
    DIDEVICEINSTANCEW m_devInstances[VIRTUAL_DEV_COUNT];
    int m_setupDevIndex;
    HRESULT m_bufferSizeStatus = DI_OK; // of the device being set up: DI_OK once its buffer size is set
    KVLOCK m_devLock;
    VirtualDevDelivery m_virtualDevs[VIRTUAL_DEV_COUNT];
    PollTimerSlot m_pollTimers[VIRTUAL_DEV_COUNT];
    mutable KVLOCK m_timerLock; // also taken by the const capability query
};
