/*
 * KvHidRaw: raw access to a PC's input devices for game-controller applications.
 *
 * One interface serves three sources of devices:
 *   - physical HID devices (identifiers 0 to 63, their positions in the device table),
 *   - the virtual keyboard and mouse (VIRTUAL_KEYBOARD_ID, VIRTUAL_MOUSE_ID),
 *   - devices filtered by the input-filtering service while a script runs there
 *     (identifiers with a bit of FILTERED_DEVICE_FLAG set).
 *
 * Usable from C and C++; needs no <windows.h>. Every export returns a status (0 = success, otherwise a
 * Win32 error code, or a code of the service or of DirectInput passed through) and never throws.
 * Out-parameters are cleared on entry and must point to valid storage; they are not tested for null.
 * Every list, name or capability array handed out is a new block owned by the application, returned with
 * KvHRFree or KvHRFreeWithTag; the constant names ("Virtual Keyboard", "Virtual Mouse", key names) belong
 * to the library and are never freed.
 *
 * Calling exports from callbacks: an export called from inside a library callback, on that callback's
 * thread, does not take the library-wide call lock again and never waits for the thread it runs on.
 * From the notification handler's NOTIF_SCRIPT_STATE event every export may be called and succeeds as it
 * would outside the callback, with two exceptions: KvHRSetReadDeviceValuesCallback on a filtered device (see
 * below), and starts and stops. Starts and stops run one at a time, whatever thread calls them, and a
 * KvHRInitialize or KvHRUnInitialize called from a callback while another start or stop
 * runs (on another thread, or the one this callback is part of) does not wait for it. It is queued and
 * carried out right after the running one, before that one returns; the queued KvHRUnInitialize returns
 * 0, the queued KvHRInitialize KVHR_ERROR_IO_PENDING (its own result is logged when it is not 0, and a
 * start that succeeds announces the script state as always).
 *
 * The virtual keyboard's and mouse's values callbacks run on the library's timer thread with no library
 * lock held. From inside them every export of the virtual devices and every query may be called and
 * succeeds as it would outside: names and capabilities of any device, KvHRSetReadDeviceValuesCallback, and
 * KvHRSetPolling for VIRTUAL_KEYBOARD_ID or VIRTUAL_MOUSE_ID, on or off. Switching polling off there does
 * not wait for the tick that is running (its own): the timers end when the callback returns, and the rest
 * of that tick's events are not delivered. KvHRUnInitialize and KvHRInitialize called there likewise end
 * the timer thread after the callback returns. Switching polling off, or stopping the library, from any
 * other thread waits until a running tick has returned: a values callback must not wait for such a call.
 *
 * Filtered devices' values callbacks run on a thread of the filtering service with the filter's device
 * lock held, one delivery at a time for all filtered devices. From inside one, the exports' filtered
 * branches may all be called and succeed as outside (KvHRSetPolling(id, 0) and
 * KvHRSetReadDeviceValuesCallback for the device being delivered among them), and so may the name and
 * capability queries of any device.
 * From inside any other callback of the library (device events, script state, the values callbacks of
 * physical and virtual devices), the thread may hold locks that a running filtered delivery waits for, so
 * the filtered branches never wait for one:
 *   - KvHRSetPolling for a filtered identifier always succeeds; when a filtered delivery is running at
 *     that moment, the flag holds for every delivery that starts afterwards, and the running one finishes.
 *   - KvHRSetReadDeviceValuesCallback for a filtered identifier returns KVHR_ERROR_POSSIBLE_DEADLOCK at
 *     once when a filtered delivery is running; call it again outside the callback.
 * Outside callbacks both wait for a running delivery, and a callback they clear is never called again.
 *
 * From a device event (NOTIF_DEVICE_ADDED, NOTIF_DEVICE_REMOVED). The handler runs on the thread that
 * changes the device table, with the table held: inside KvHRInitialize or KvHRUpdateHidDevicesList, on the
 * library's notification thread (a device taken in once its installation is over, a device whose removal
 * its handle reported), or on a library thread that brings the table up to date after an interface's
 * removal. On that thread every export succeeds without waiting for another thread:
 *   - KvHRGetDevicesList, KvHRGetDeviceName, KvHRGetDeviceCapabilities, KvHRIsDeviceVirtual,
 *     KvHRSetPolling and KvHRSetReadDeviceValuesCallback behave as outside; the position just announced
 *     as added is usable at once, one announced as removed answers KVHR_ERROR_NOT_FOUND;
 *   - KvHRSetNotificationHandler stores the new handler at once, without waiting for events being
 *     delivered on other threads; the events that begin afterwards (the rest of the same update's
 *     included) go to the new handler. So a device event and a script-state event that set the handler at
 *     the same time on two threads never wait for each other;
 *   - KvHRUpdateHidDevicesList runs inside the update that sent the event; its own events come, nested,
 *     before it returns 0;
 *   - KvHRUnInitialize returns 0; the stop is carried out as soon as the start or update that sent the
 *     event has finished, before that call returns (KvHRInitialize called there is queued the same way
 *     and answers KVHR_ERROR_IO_PENDING). On the notification thread, when no start or stop runs, the stop
 *     is carried out at once: the device being added or removed is still handled, and no later arrival or
 *     removal is heard of until the next KvHRInitialize.
 *
 * From a physical device's values callback. It runs on the device's reader with no library lock held,
 * and every export succeeds there as outside (without the call lock). In particular:
 *   - KvHRSetPolling(own position, 0) returns 0 at once; the reader ends when the callback returns,
 *     without a further delivery. KvHRSetPolling(own position, 1) answers KVHR_ERROR_ALREADY_INITIALIZED;
 *   - KvHRUpdateHidDevicesList may remove the callback's own device: it returns 0 and the device is gone;
 *     the reader ends when the callback returns;
 *   - removing a device never waits for a reader that is inside its callback (the callback's own exports
 *     may be waiting for the table): the device leaves the table at once, the callback's later calls for
 *     its position answer KVHR_ERROR_NOT_FOUND, and the reader ends, without a further delivery, once the
 *     callback returns. A reader that is not inside its callback is waited for: it makes its last delivery
 *     before NOTIF_DEVICE_REMOVED is sent.
 * No export answers KVHR_ERROR_POSSIBLE_DEADLOCK from these callbacks but for
 * KvHRSetReadDeviceValuesCallback on a filtered device while a filtered delivery runs (see above).
 */
#ifndef KVHIDRAW_H
#define KVHIDRAW_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C"
{
#endif

/* UTF-16 text: the same type as WCHAR of each build. */
#if defined(_WIN32)
    typedef wchar_t KvHRWChar;
#define KVHR_CALL __stdcall
#else
#ifdef __cplusplus
typedef char16_t KvHRWChar;
#else
typedef uint16_t KvHRWChar;
#endif
#define KVHR_CALL
#endif

#if defined(KVHIDRAW_BUILD)
#if defined(_WIN32)
#define KVHR_API
#else
#define KVHR_API __attribute__((visibility("default")))
#endif
#elif defined(_WIN32)
#define KVHR_API __declspec(dllimport)
#else
#define KVHR_API
#endif

#if defined(__cplusplus)
#define KVHR_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define KVHR_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Device identifiers. */
#define VIRTUAL_KEYBOARD_ID 0x100u
#define VIRTUAL_MOUSE_ID 0x101u
#define FILTERED_DEVICE_FLAG 0x00FF0000u
#define MAX_HID_DEVICES 64u
#define MAX_FILTERED_DEVICES 16u

/* The maker's own virtual HID devices show this vendor and product (KvHRIsDeviceVirtual). The vendor
 * identifier is one that the USB registry never assigns. */
#define KVHR_MAKER_VENDOR_ID 0xFFFFu
#define KVHR_MAKER_VIRTUAL_PRODUCT_ID 0xFFFFu

/* Events of the notification handler. */
#define NOTIF_DEVICE_ADDED 0u   /* value: the new device's position */
#define NOTIF_DEVICE_REMOVED 1u /* value: the former position */
#define NOTIF_SCRIPT_STATE 2u   /* value: 1 a script runs, 0 none */

/* Status codes returned by the exports (Win32 values). */
#define KVHR_ERROR_SUCCESS 0u
#define KVHR_ERROR_CALL_NOT_IMPLEMENTED 120u
#define KVHR_ERROR_INVALID_PARAMETER 87u
#define KVHR_ERROR_INSUFFICIENT_BUFFER 122u
#define KVHR_ERROR_IO_PENDING 997u
#define KVHR_ERROR_POSSIBLE_DEADLOCK 1131u /* see "Calling exports from callbacks" above */
#define KVHR_ERROR_NOT_FOUND 1168u
#define KVHR_ERROR_ALREADY_INITIALIZED 1247u
#define KVHR_ERROR_UNIDENTIFIED_ERROR 1287u

#pragma pack(push, 1)

    /* One input of a device: a button, an axis or a hat switch. 20 bytes. */
    typedef struct _stHidCapability
    {
        uint16_t usage;
        uint16_t usagePage;
        uint8_t isAbsolute; /* nonzero: absolute values; 0: relative */
        uint8_t reserved[3];
        int32_t minValue;
        int32_t maxValue; /* minValue <= maxValue; buttons: 0 and 128 */
        uint32_t index;   /* instance number among inputs with the same usagePage and usage */
    } _stHidCapability;

    /* The current value of one input. 16 bytes. */
    typedef struct _stHidValue
    {
        uint16_t usage;
        uint16_t usagePage;
        uint32_t value;      /* raw: buttons 1 down / 0 up; values the unsigned field of the report */
        int32_t scaledValue; /* buttons 1 / 0; values the signed value the HID parser derives */
        uint32_t index;
    } _stHidValue;

#pragma pack(pop)

    KVHR_STATIC_ASSERT(sizeof(_stHidCapability) == 20, "_stHidCapability is 20 bytes");
    KVHR_STATIC_ASSERT(offsetof(_stHidCapability, usage) == 0, "usage at 0");
    KVHR_STATIC_ASSERT(offsetof(_stHidCapability, usagePage) == 2, "usagePage at 2");
    KVHR_STATIC_ASSERT(offsetof(_stHidCapability, isAbsolute) == 4, "isAbsolute at 4");
    KVHR_STATIC_ASSERT(offsetof(_stHidCapability, minValue) == 8, "minValue at 8");
    KVHR_STATIC_ASSERT(offsetof(_stHidCapability, maxValue) == 12, "maxValue at 12");
    KVHR_STATIC_ASSERT(offsetof(_stHidCapability, index) == 16, "index at 16");
    KVHR_STATIC_ASSERT(sizeof(_stHidValue) == 16, "_stHidValue is 16 bytes");
    KVHR_STATIC_ASSERT(offsetof(_stHidValue, usage) == 0, "usage at 0");
    KVHR_STATIC_ASSERT(offsetof(_stHidValue, usagePage) == 2, "usagePage at 2");
    KVHR_STATIC_ASSERT(offsetof(_stHidValue, value) == 4, "value at 4");
    KVHR_STATIC_ASSERT(offsetof(_stHidValue, scaledValue) == 8, "scaledValue at 8");
    KVHR_STATIC_ASSERT(offsetof(_stHidValue, index) == 12, "index at 12");

    /*
     * Receives every input's value of one device. The records belong to the library and are valid only during
     * the call. Physical devices call it on their own read thread after each report and once when polling
     * stops, with no library lock held; deliveries of one device never overlap.
     * The virtual keyboard and mouse call it on the library's timer thread, every 120 ms while polling is on,
     * once per change (key or button down or up, movement of an axis) with one record: keys are usage page 9
     * with the DirectInput key code as usage, mouse buttons page 9 usages 1 to 8, the mouse's X, Y and wheel
     * page 1 usages 0x30, 0x31, 0x32 with the signed relative movement. Changes made while polling is on
     * but no callback is set are dropped, never delivered later.
     * Filtered devices call it on a thread of the filtering service for each input the service reports while
     * polling is on, with every input of the device each time (buttons 1 to n as their byte 0 to 255, the
     * present axes, the hats, in the order of the device's capabilities); deliveries of filtered devices never
     * overlap.
     */
    typedef void(KVHR_CALL* ReadDeviceValuesCallback)(void* context, const _stHidValue* values,
                                                      uint32_t count);

    /*
     * Hears of device additions and removals and of script-state changes (NOTIF_*). Called on the thread that
     * reports the event (inside KvHRInitialize and KvHRUpdateHidDevicesList on the caller's thread, on the
     * library's message thread, or on a thread of the filtering service), one event at a time per source.
     */
    typedef void(KVHR_CALL* NotificationHandler)(uint32_t event, uint32_t value, void* context);

    /* ---- Start, stop and memory ---- */

    /*
     * Starts the library: the physical devices (every device present is announced with NOTIF_DEVICE_ADDED if
     * a handler is set), the virtual devices and the filter mode (its script state is announced with
     * NOTIF_SCRIPT_STATE). Returns 0, KVHR_ERROR_ALREADY_INITIALIZED when already started, or the filtering
     * service's error code. Failures of the physical or virtual side are not reported. From a callback
     * while another start or stop runs: queued behind it, KVHR_ERROR_IO_PENDING (see the top of this file).
     */
    KVHR_API uint32_t KVHR_CALL KvHRInitialize(void);

    /* Stops notifications, the virtual devices and the filter mode; open devices stay open. Always 0. */
    KVHR_API uint32_t KVHR_CALL KvHRUnInitialize(void);

    /* Allocates a block that KvHRFree releases; a null tag stands for "KvSCAllocate". */
    KVHR_API void* KVHR_CALL KvHRAllocate(uint64_t bytes, const KvHRWChar* tag);

    /* Releases a block handed out by the library or by KvHRAllocate. 0 on success. */
    KVHR_API int32_t KVHR_CALL KvHRFree(void* block);
    KVHR_API int32_t KVHR_CALL KvHRFreeWithTag(void* block, const KvHRWChar* tag);

    /* ---- Device queries ---- */

    /* Enumerates the HID devices again, whether or not the library is started. Returns 0. */
    KVHR_API uint32_t KVHR_CALL KvHRUpdateHidDevicesList(void);

    /* The positions of the open physical devices, ascending; a null list with a count of 0 when there is
     * none. */
    KVHR_API uint32_t KVHR_CALL KvHRGetDevicesList(uint32_t** list, uint32_t* count);

    /*
     * The device's name: a new block, except for the virtual devices' constant names. Returns 0,
     * KVHR_ERROR_NOT_FOUND, or the error of the name lookup. A filtered device is named by the service (at
     * most 255 characters) or, when it gives no name, "FILTER-Implement".
     */
    KVHR_API uint32_t KVHR_CALL KvHRGetDeviceName(uint32_t id, KvHRWChar** name);

    /*
     * The device's inputs as a new array of count records (null when 0). Returns 0 or KVHR_ERROR_NOT_FOUND.
     * The library asks a filtered device's source twice (size, then records); when the answer changes in
     * between, or the service fails, the count is 0. Filtered buttons have a maximum of 1.
     */
    KVHR_API uint32_t KVHR_CALL KvHRGetDeviceCapabilities(uint32_t id, _stHidCapability** caps,
                                                          uint32_t* count);

    /* Whether a physical device is one of the maker's virtual HID devices. 0, 87 (not physical) or 1168. */
    KVHR_API uint32_t KVHR_CALL KvHRIsDeviceVirtual(uint32_t id, uint8_t* isVirtual);

    /* ---- Input and notifications ---- */

    /*
     * Switches the delivery of a device's values on (nonzero) or off. Physical devices: on gives 0 when a
     * reader starts, KVHR_ERROR_ALREADY_INITIALIZED (1247) while one runs. Off returns 0 at once; the reader notices within
     * a second, makes one last delivery of the current values and ends. Switched on again after its reader
     * has ended, a device gets a new reader (0); while the old one is still finishing, that one reads on
     * (1247).
     * Virtual devices: switching either off stops the timers of both (the other keeps its setting and polls
     * again once switched on again); switching on a device whose timer runs keeps that timer and returns 0;
     * KVHR_ERROR_INVALID_PARAMETER when the timer cannot start, also before KvHRInitialize and after
     * KvHRUnInitialize. Every KvHRInitialize starts the virtual devices afresh: polling off, no callbacks.
     * For a filtered device it always returns 0, and takes effect only once the device has a callback.
     */
    KVHR_API uint32_t KVHR_CALL KvHRSetPolling(uint32_t id, uint8_t poll);

    /*
     * Registers the callback that receives the device's values; a null callback stops deliveries. For a
     * filtered device: 0 or the service's error when it cannot describe the device (the callback is stored
     * all the same and receives empty deliveries), KVHR_ERROR_NOT_FOUND when clearing a device that never
     * had a callback, KVHR_ERROR_INSUFFICIENT_BUFFER when 16 other filtered devices have one (a cleared
     * callback keeps its device's place until the next KvHRInitialize).
     */
    KVHR_API uint32_t KVHR_CALL KvHRSetReadDeviceValuesCallback(uint32_t id,
                                                                ReadDeviceValuesCallback callback,
                                                                void* context);

    /* Sets the one notification handler of the library (null silences it). Returns 0. */
    KVHR_API uint32_t KVHR_CALL KvHRSetNotificationHandler(NotificationHandler handler, void* context);

    /* Asks the filtering service whether a script runs. Returns 0. */
    KVHR_API uint32_t KVHR_CALL KvHRFilterGetScriptRunning(uint8_t* running);

    /*
     * The identifiers of the filtered devices (FILTERED_DEVICE_FLAG set). 0 or the service's error code;
     * KVHR_ERROR_INSUFFICIENT_BUFFER, with no list, when the service reports more than 16.
     */
    KVHR_API uint32_t KVHR_CALL KvHRFilterGetDevicesList(uint32_t** list, uint32_t* count);

    /* VIRTUAL_KEYBOARD_ID and/or VIRTUAL_MOUSE_ID, as the service reports them present. Returns 0. */
    KVHR_API uint32_t KVHR_CALL KvHRDirectInputGetVirtualDevicesList(uint32_t** list, uint32_t* count);

    /* The constant name of a DirectInput key code (1 to 237), "???" otherwise. Returns 0. */
    KVHR_API uint32_t KVHR_CALL KvHRDirectInputGetVirtualKeyboardBtnsName(uint32_t key,
                                                                          const KvHRWChar** name);

#ifdef __cplusplus
}
#endif

#endif /* KVHIDRAW_H */
