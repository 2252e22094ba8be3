// Control of the simulated input-filtering service behind KvServiceControl, for tests and the demo.
//
// A fresh service is available, runs no script, filters no device and reports a virtual keyboard and a
// virtual mouse. Notifications (script changes, device input) are queued and delivered on the service's
// own thread to the handler registered through KvSCStatusRegisterNotificationHandler, never on the
// thread that caused them; without a connection or a handler they are dropped and counted.
#pragma once

#include "KvServiceControl.h"

enum class KvSimCall
{
    InitializeStatus,
    RegisterNotificationHandler,
    IsScriptRunning,
    GetSelectedDevices,
    GetFilteredDeviceName,
    GetSelectedDevicePhysicalCapabilities,
    GetVirtualKeyboardCapabilities,
    GetVirtualMouseCapabilities,
    Count
};

class KVSC_API KvSimService
{
public:
    // Makes a call fail with the status (0: answer normally again).
    static void SetCallStatus(KvSimCall call, DWORD status);

    // Changes the script state and queues an enScriptStateChanged notification.
    static void SetScriptRunning(bool running);
    // Queues an enScriptStateChanged notification without changing the state.
    static void NotifyScriptState();
    // Queues any notification; the data (size bytes, may be null) is copied and valid during the call.
    static void PostNotification(DWORD code, DWORD param, const void* data, size_t size);

    // Filtered devices, in the order they were added. A null name makes the name query give no string.
    static void AddFilteredDevice(DWORD id, LPCWSTR name, const _stHidPhysicalInputData& caps);
    static void RemoveFilteredDevice(DWORD id);
    // Queues an enDeviceInput notification for the device.
    static void PushInput(DWORD id, const _stHidInputData& input);

    static void SetVirtualKeyboard(bool present);
    static void SetVirtualMouse(bool present);

    // How long KvSCUnInitialize waits for a notification that is being delivered (10000 ms at first).
    static void SetStopWait(DWORD milliseconds);
    // Waits until a KvSCUnInitialize is waiting for a notification that is being delivered; false on timeout.
    static bool WaitStopWaiting(DWORD timeoutMs);

    // While held, the call waits on entry (before it answers) until the hold ends (30 s at most).
    static void HoldCall(KvSimCall call, bool hold);
    // Waits until a call is waiting in its hold; false on timeout.
    static bool WaitCallHeld(KvSimCall call, DWORD timeoutMs);

    // Waits until every queued notification has been delivered or dropped; false on timeout.
    static bool WaitIdle(DWORD timeoutMs);
    static bool IsConnected();
    static bool HasHandler();
    static unsigned DroppedNotifications();
    static unsigned DeliveredNotifications();
    // Blocks handed out by the service and not yet returned with KvSCFree.
    static unsigned LiveBlocks();
};
