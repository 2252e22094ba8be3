// The library's side of filter mode: the connection to the filtering service, its script state, the
// callbacks and polling flags of up to 16 filtered devices, and the translation of the service's records
// into the library's capability and value records.
#pragma once

#include <windows.h>

#include "KvCommon.h"
#include "KvHandlerPair.h"
#include "KvHidRaw.h"
#include "KvServiceControl.h"

#include <atomic>

#define FILTER_SLOT_FREE 0xFFFFFFFFu
#define FILTER_AXIS_COUNT 11u
// A filtered device's name: at most 255 characters and the terminator.
#define FILTER_NAME_CHARS 256u
// One delivery's records: 256 buttons, 32 axes and 8 hats.
#define MAX_FILTERED_VALUES 296u

#ifndef ERROR_NO_CALLBACK_ACTIVE
#define ERROR_NO_CALLBACK_ACTIVE 614
#endif

struct FilteredDeviceSlot
{
    // Atomic because KvHRSetPolling from another library callback finds the slot and sets polling without
    // the device lock (see SetPolling); everything else is guarded by m_devLock.
    std::atomic<DWORD> id; // FILTER_SLOT_FREE marks a free slot
    _stHidPhysicalInputData caps;
    std::atomic<DWORD> polling;
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

    // Identifiers of the exports: a bit of FILTERED_DEVICE_FLAG names a filtered device, whose number in
    // the service's numbering is the identifier without those bits.
    static bool IsFilteredId(DWORD id) { return (id & FILTERED_DEVICE_FLAG) != 0; }
    static DWORD ServiceId(DWORD id) { return id & ~FILTERED_DEVICE_FLAG; }

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

    // The device's name as the exports hand it out: "FILTER-Implement" unless the service gives one, cut
    // to 255 characters.
    void GetDeviceName(DWORD id, WCHAR (&name)[FILTER_NAME_CHARS]);

    // Capability records with the size protocol: numCap is the capacity on entry, the records needed
    // (ERROR_INSUFFICIENT_BUFFER) or written (0) on return.
    static DWORD TranslateHidInputToHidCapabilities(const _stHidPhysicalInputData* pData,
                                                    _stHidCapability* buffer, DWORD* numCap);
    DWORD GetDeviceCapabilities(DWORD id, _stHidCapability* buffer, DWORD* numCap);
    DWORD ParseDeviceInput(DWORD id, const _stHidInputData* input);

private:
    bool MayWaitForDelivery();
    int FindSlot(DWORD id) const;
    void ClearSlots();

    std::atomic<bool> m_bInitialized;
    KVLOCK m_devLock;
    KVLOCK m_notifLock;
    std::atomic<bool> m_bScriptRunning;
    std::atomic<unsigned> m_runningNotifications;
    // The application's handler, sent to under "&m_notifLock".
    CKvHandlerPair m_handlerPair;
    FilteredDeviceSlot m_filteredDevices[MAX_FILTERED_DEVICES];
};
