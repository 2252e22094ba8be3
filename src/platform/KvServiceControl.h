// KvServiceControl: the maker's library that talks to the input-filtering service.
// Every function returns a status, 0 for success; blocks it hands out go back through KvSCFree.
#pragma once

#include <windows.h>

#include <cstddef>

#if defined(_WIN32)
#if defined(KVSERVICECONTROL_BUILD)
#define KVSC_API __declspec(dllexport)
#else
#define KVSC_API __declspec(dllimport)
#endif
#else
#define KVSC_API __attribute__((visibility("default")))
#endif

#pragma pack(push, 1)

// One axis or hat entry. Capabilities use the range; input uses the first field as the value.
struct _stHidPhysicalRange
{
    DWORD value;
    LONG minValue;
    LONG maxValue;
};

// The description of a filtered device, 740 bytes. Entries whose minimum and maximum are both 0 are absent.
struct _stHidPhysicalInputData
{
    BYTE buttons[256]; // non-zero for a present button
    _stHidPhysicalRange axes[32];
    _stHidPhysicalRange hats[8];
    BYTE buttonCount;
    BYTE axisCount;
    BYTE hatCount;
    BYTE reserved;
};

// The input of a filtered device, laid out as its description: button i's state is buttons[i], axis k's
// value axes[k].value, hat j's hats[j].value.
typedef _stHidPhysicalInputData _stHidInputData;

#pragma pack(pop)

static_assert(sizeof(_stHidPhysicalRange) == 12, "axis entry is 12 bytes");
static_assert(sizeof(_stHidPhysicalInputData) == 740, "_stHidPhysicalInputData is 740 bytes");
static_assert(offsetof(_stHidPhysicalInputData, axes) == 256, "axes at 256");
static_assert(offsetof(_stHidPhysicalInputData, hats) == 640, "hats at 640");
static_assert(offsetof(_stHidPhysicalInputData, buttonCount) == 736, "counts at 736");

enum _enKvServiceNotification
{
    enScriptStateChanged = 16, // param and data unused
    enDeviceInput = 17, // param: the service's device number; data: _stHidInputData, valid during the call
};

typedef int(WINAPI* KvSCNotificationHandler)(void* context, _enKvServiceNotification code, DWORD param,
                                             void* data);

extern "C"
{
    KVSC_API DWORD WINAPI KvSCInitializeStatus(void);
    // Ends the connection. Waits (bounded) until no notification of the service into the caller can still
    // be running; called from inside a notification it waits for none, since the service's other threads
    // may be waiting for what the caller holds.
    KVSC_API DWORD WINAPI KvSCUnInitialize(void);
    KVSC_API DWORD WINAPI KvSCStatusRegisterNotificationHandler(KvSCNotificationHandler handler,
                                                                void* context);
    KVSC_API DWORD WINAPI KvSCStatusIsScriptRunning(BYTE* running);
    // count: in, the capacity; out, the number of ids. The array is the caller's to free when count > 0.
    KVSC_API DWORD WINAPI KvSCStatusGetSelectedDevices(DWORD** ids, int* count);
    KVSC_API DWORD WINAPI KvSCStatusGetFilteredDeviceName(DWORD id, WCHAR** name);
    KVSC_API DWORD WINAPI KvSCStatusGetSelectedDevicePhysicalCapabilities(DWORD id,
                                                                          _stHidPhysicalInputData** caps);
    KVSC_API DWORD WINAPI KvSCStatusGetVirtualKeyboardCapabilities(_stHidInputData** data);
    KVSC_API DWORD WINAPI KvSCStatusGetVirtualMouseCapabilities(_stHidInputData** data);
    KVSC_API DWORD WINAPI KvSCFree(void* block);
}
