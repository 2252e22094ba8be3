// The library frame: every global object (in the order of their construction), the entry point and the
// seventeen exports.
#include <windows.h>

#include "KvHidRaw.h"

#include "KvCallbackScope.h"
#include "KvCheck.h"
#include "KvCommon.h"
#include "KvDevNotifications.h"
#include "KvExportLock.h"
#include "KvGlobals.h"
#include "KvHidDeviceMgmt.h"
#include "KvHidDeviceRaw.h"
#include "KvHidDirectInput.h"
#include "KvHidFilterMgmt.h"
#include "KvKeyNames.h"
#include "KvLifecycleGate.h"
#include "KvModulePin.h"
#include "KvServiceControl.h"
#include "KvVirtualDevExports.h"

// ---- Global objects. Static construction runs in this order and teardown in the reverse one. ----

KVLOCK CKvDevNotifications::m_hWindowAssociation = CKvDevNotifications::CreateWindowAssociationLock();
_stWindowAssociation CKvDevNotifications::m_windowAssociations[CKvDevNotifications::MAX_WINDOW_ASSOCIATIONS] =
    {};
LONG CKvDevNotifications::m_instanceCount = 0;

std::atomic<LONG> CKvHidDeviceRaw::m_readersInLibrary{0};

CKvHidDeviceMgmt hidDeviceMgmt;
CKvHidFilterMgmt hidFilterMgmt;
CKvHidDirectInput hidDirectInput;

// Created by the first process attach, deleted by the last detach.
KVLOCK dllCallLock = nullptr;
DWORD dllAttachCount = 0;

// Lets one start or stop run at a time, a callback's included.
CKvLifecycleGate lifecycleGate;

// ---- Start and the two stops ----

namespace
{
// How long the last detach waits for the device table's background updates.
const DWORD kBackgroundUpdateWaitMs = 5000;

DWORD UpdateDevices()
{
    return hidDeviceMgmt.UpdateHidDevicesList();
}

// An interface removal's update takes the start/stop gate, as KvHRUpdateHidDevicesList does: a stop asked
// for from one of its device events then waits until the table is let go (the stop waits for the message
// thread, which may be waiting for the table).
DWORD RunBackgroundUpdate()
{
    return lifecycleGate.Run(&UpdateDevices, "CKvHidDeviceMgmt::UpdateHidDevicesListThreadProc");
}

DWORD Start()
{
    hidDeviceMgmt.SetBackgroundUpdateRunner(&RunBackgroundUpdate);
    hidDeviceMgmt.Initialize();
    // The start answers for the filter manager only; a failed setup of the virtual devices is logged.
    if (const DWORD status = hidDirectInput.Initialize())
        KvDebugLog(TEXT("KvHRInitialize: the virtual devices could not be set up, status 0x%08x"), status);
    return hidFilterMgmt.Initialize();
}

// The steps both stops share.
void StopDeviceNotifications()
{
    if (hidDeviceMgmt.IsStarted())
        hidDeviceMgmt.Stop();
}

void ReleaseService()
{
    KvSCUnInitialize();
    hidFilterMgmt.MarkStopped();
}

// The two stops differ on purpose in one place: KvHRUnInitialize ends the virtual devices' polling before
// it releases the service, the last detach releases the service first and ends the polling after it.
DWORD StopFromExport()
{
    StopDeviceNotifications();
    hidDirectInput.DeletePollingQueue();
    ReleaseService();
    return ERROR_SUCCESS;
}

// processExit: the process is ending (the loader's reserved argument is not null), and the system has
// already ended every other thread. Nothing is waited for then: the service's notification thread, the
// readers and the queue's thread will never leave, and the system reclaims what they held.
DWORD StopOnLastDetach(bool processExit)
{
    StopDeviceNotifications();
    if (processExit)
    {
        hidFilterMgmt.MarkStopped();
        hidDeviceMgmt.ForgetOnProcessExit();
        hidDirectInput.ForgetOnProcessExit();
        return ERROR_SUCCESS;
    }
    ReleaseService();
    hidDirectInput.DeletePollingQueueOnUnload();
    return ERROR_SUCCESS;
}

DWORD StopOnUnload()
{
    return StopOnLastDetach(false);
}

DWORD StopOnProcessExit()
{
    return StopOnLastDetach(true);
}

// A service notification that outlived the service's bounded wait still runs the library's code (its
// "&m_notifLock" held, which teardown then leaves allocated): the code must stay until it has left.
void KeepCodeForRunningNotification()
{
    if (hidFilterMgmt.RunningNotifications() == 0)
        return;
    if (CKvModulePin::PinLibraryModules())
    {
        KvDebugLogString(
            TEXT("KvHidRaw: a service notification still runs in the library; it stays loaded\n"));
        return;
    }
    KvDebugLogString(
        TEXT("KvHidRaw: a service notification still runs in the library; the unload waits for it\n"));
    while (!hidFilterMgmt.WaitNotificationsEnded(10000))
        KvDebugLogString(TEXT("KvHidRaw: the unload still waits for a service notification\n"));
}

void DetachLast(bool processExit)
{
    lifecycleGate.RunLast(processExit ? &StopOnProcessExit : &StopOnUnload);
    if (!processExit)
    {
        // No interface event comes any more; updates started by earlier removals may still wait at the gate.
        hidDeviceMgmt.WaitBackgroundUpdates(kBackgroundUpdateWaitMs);
        KeepCodeForRunningNotification();
    }
    CLock::DeleteLockPrimitive(&dllCallLock);
}
} // namespace

// ---- Entry point ----

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    switch (reason)
    {
        case DLL_PROCESS_ATTACH:
            if (dllAttachCount == 0)
                CLock::CreateLockPrimitiveEx(&dllCallLock, "&dllCallLock", enLockTypeCallLock);
            ++dllAttachCount;
            break;
        case DLL_PROCESS_DETACH:
            if (--dllAttachCount == 0)
                DetachLast(reserved != nullptr);
            break;
        default:
            break;
    }
    return TRUE;
}

#if !defined(_WIN32)
// The native build has no loader calling DllMain: this object, constructed after every global above and
// destroyed before them, gives the same order: construction, attach ... detach, teardown.
namespace
{
struct CKvNativeLoader
{
    CKvNativeLoader() { DllMain(nullptr, DLL_PROCESS_ATTACH, nullptr); }
    ~CKvNativeLoader() { DllMain(nullptr, DLL_PROCESS_DETACH, nullptr); }
} nativeLoader;
} // namespace
#endif

// ---- Start, stop and memory ----

uint32_t KVHR_CALL KvHRInitialize(void)
{
    CKvExportLock lock("KvHRInitialize");
    return lifecycleGate.Run(&Start, "KvHRInitialize");
}

uint32_t KVHR_CALL KvHRUnInitialize(void)
{
    CKvExportLock lock("KvHRUnInitialize");
    lifecycleGate.Run(&StopFromExport, "KvHRUnInitialize");
    return ERROR_SUCCESS;
}

void* KVHR_CALL KvHRAllocate(uint64_t bytes, const KvHRWChar* tag)
{
    return DllAlloc::Allocate(static_cast<SIZE_T>(bytes), tag ? tag : TEXT("KvSCAllocate"));
}

int32_t KVHR_CALL KvHRFree(void* block)
{
    return DllAlloc::Free(block, nullptr);
}

int32_t KVHR_CALL KvHRFreeWithTag(void* block, const KvHRWChar* tag)
{
    return DllAlloc::Free(block, tag);
}

// ---- Device queries ----

uint32_t KVHR_CALL KvHRUpdateHidDevicesList(void)
{
    CKvExportLock lock("KvHRUpdateHidDevicesList");
    // Outside callbacks the update takes the start/stop gate, so a stop asked for from one of its device
    // events is carried out once the update has let the device table go. Inside a callback it runs nested
    // (the gate may be held by the very start or update whose event called it).
    if (CKvCallbackScope::InsideCallback())
        return UpdateDevices();
    return lifecycleGate.Run(&UpdateDevices, "KvHRUpdateHidDevicesList");
}

uint32_t KVHR_CALL KvHRGetDevicesList(uint32_t** list, uint32_t* count)
{
    *list = nullptr;
    *count = 0;
    CKvExportLock lock("KvHRGetDevicesList");
    DWORD positions[MAX_HID_DEVICES];
    ULONG n = 0;
    const DWORD hRes = hidDeviceMgmt.GetCurrentDevices(positions, MAX_HID_DEVICES, &n);
    if (hRes != ERROR_SUCCESS)
    {
        KV_VERIFY(hRes);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (n == 0)
        return ERROR_SUCCESS;
    *list = static_cast<uint32_t*>(
        DllAlloc::MemCopyAlloc(positions, n * sizeof(uint32_t), TEXT("KvHRGetDevicesList")));
    *count = *list ? n : 0;
    return ERROR_SUCCESS;
}

uint32_t KVHR_CALL KvHRGetDeviceName(uint32_t id, KvHRWChar** name)
{
    *name = nullptr;
    CKvExportLock lock("KvHRGetDeviceName");
    if (IsVirtualDeviceId(id))
        return GetVirtualDeviceName(id, name);
    if (CKvHidFilterMgmt::IsFilteredId(id))
    {
        WCHAR buffer[FILTER_NAME_CHARS];
        hidFilterMgmt.GetDeviceName(CKvHidFilterMgmt::ServiceId(id), buffer);
        *name = DllAlloc::StringCopyAlloc(buffer, TEXT("KvHRGetDeviceName"));
        return ERROR_SUCCESS;
    }
    CKvHidDeviceRaw* device = hidDeviceMgmt.GetDevice(id);
    if (device == nullptr)
        return ERROR_NOT_FOUND;
    WCHAR buffer[DEVICE_NAME_CHARS] = {};
    const DWORD hRes = device->GetDeviceName(buffer);
    hidDeviceMgmt.ReleaseDevice();
    if (hRes != ERROR_SUCCESS)
        return hRes;
    *name = DllAlloc::StringCopyAlloc(buffer, TEXT("KvHRGetDeviceName"));
    return ERROR_SUCCESS;
}

uint32_t KVHR_CALL KvHRGetDeviceCapabilities(uint32_t id, _stHidCapability** caps, uint32_t* count)
{
    *caps = nullptr;
    *count = 0;
    CKvExportLock lock("KvHRGetDeviceCapabilities");
    if (IsVirtualDeviceId(id))
    {
        const DWORD index = VirtualDevIndex(id);
        const DWORD hRes = hidDirectInput.GetVirtualDevCapabilities(index, nullptr, count);
        KV_ASSERT(hRes == ERROR_INSUFFICIENT_BUFFER);
        if (hRes != ERROR_INSUFFICIENT_BUFFER || *count == 0)
        {
            *count = 0;
            return ERROR_SUCCESS;
        }
        *caps = static_cast<_stHidCapability*>(
            DllAlloc::Allocate(*count * sizeof(_stHidCapability), TEXT("KvHRGetDeviceCapabilities")));
        // A start on another thread may have found another mouse since the size query: never hand out more
        // records than the array holds.
        if (hidDirectInput.GetVirtualDevCapabilities(index, *caps, count) != ERROR_SUCCESS)
        {
            DllAlloc::Free(*caps, nullptr);
            *caps = nullptr;
            *count = 0;
        }
        return ERROR_SUCCESS;
    }
    if (CKvHidFilterMgmt::IsFilteredId(id))
    {
        const DWORD serviceId = CKvHidFilterMgmt::ServiceId(id);
        DWORD numCap = 0;
        const DWORD hRes = hidFilterMgmt.GetDeviceCapabilities(serviceId, nullptr, &numCap);
        KV_ASSERT(hRes == ERROR_INSUFFICIENT_BUFFER);
        if (hRes == ERROR_INSUFFICIENT_BUFFER && numCap != 0)
        {
            *caps = static_cast<_stHidCapability*>(
                DllAlloc::Allocate(numCap * sizeof(_stHidCapability), TEXT("KvHRGetDeviceCapabilities")));
            // The service is asked again: if its answer no longer fits or it fails, the application gets no
            // records rather than a count that does not match the array.
            if (hidFilterMgmt.GetDeviceCapabilities(serviceId, *caps, &numCap) != ERROR_SUCCESS || numCap == 0)
            {
                DllAlloc::Free(*caps, TEXT("KvHRGetDeviceCapabilities"));
                *caps = nullptr;
                numCap = 0;
            }
            *count = numCap;
        }
        return ERROR_SUCCESS;
    }
    CKvHidDeviceRaw* device = hidDeviceMgmt.GetDevice(id);
    if (device == nullptr)
        return ERROR_NOT_FOUND;
    ULONG n = 0;
    const DWORD hRes = device->GetCapabilities(nullptr, &n);
    KV_ASSERT(hRes == ERROR_INSUFFICIENT_BUFFER);
    if (hRes == ERROR_INSUFFICIENT_BUFFER && n != 0)
    {
        *caps = static_cast<_stHidCapability*>(
            DllAlloc::Allocate(n * sizeof(_stHidCapability), TEXT("KvHRGetDeviceCapabilities")));
        if (*caps == nullptr || device->GetCapabilities(*caps, &n) != ERROR_SUCCESS)
            n = 0;
    }
    hidDeviceMgmt.ReleaseDevice();
    // A count of 0 goes with a null array, also when no input is listed.
    if (n == 0 && *caps != nullptr)
    {
        DllAlloc::Free(*caps, nullptr);
        *caps = nullptr;
    }
    *count = n;
    return ERROR_SUCCESS;
}

uint32_t KVHR_CALL KvHRIsDeviceVirtual(uint32_t id, uint8_t* isVirtual)
{
    *isVirtual = 0;
    if (IsVirtualDeviceId(id))
    {
        *isVirtual = 1;
        return ERROR_INVALID_PARAMETER;
    }
    if (CKvHidFilterMgmt::IsFilteredId(id))
        return ERROR_INVALID_PARAMETER;
    CKvHidDeviceRaw* device = hidDeviceMgmt.GetDevice(id);
    if (device == nullptr)
        return ERROR_NOT_FOUND;
    const HIDD_ATTRIBUTES& attributes = device->GetDevice()->attributes;
    *isVirtual =
        attributes.VendorID == KVHR_MAKER_VENDOR_ID && attributes.ProductID == KVHR_MAKER_VIRTUAL_PRODUCT_ID;
    hidDeviceMgmt.ReleaseDevice();
    return ERROR_SUCCESS;
}

// ---- Input and notifications ----

uint32_t KVHR_CALL KvHRSetPolling(uint32_t id, uint8_t poll)
{
    CKvExportLock lock("KvHRSetPolling");
    if (IsVirtualDeviceId(id))
        return SetVirtualDevPolling(id, poll);
    if (CKvHidFilterMgmt::IsFilteredId(id))
    {
        hidFilterMgmt.SetPolling(CKvHidFilterMgmt::ServiceId(id), poll);
        return ERROR_SUCCESS;
    }
    CKvHidDeviceRaw* device = hidDeviceMgmt.GetDevice(id);
    if (device == nullptr)
        return ERROR_NOT_FOUND;
    const DWORD hRes = device->SetPolling(poll != 0);
    if (poll)
        KV_ASSERT(hRes == ERROR_SUCCESS || hRes == ERROR_ALREADY_INITIALIZED);
    hidDeviceMgmt.ReleaseDevice();
    return hRes;
}

uint32_t KVHR_CALL KvHRSetReadDeviceValuesCallback(uint32_t id, ReadDeviceValuesCallback callback,
                                                   void* context)
{
    CKvExportLock lock("KvHRSetReadDeviceValuesCallback");
    if (IsVirtualDeviceId(id))
        return hidDirectInput.SetReadVirtualDevValuesCallback(VirtualDevIndex(id), callback, context);
    if (CKvHidFilterMgmt::IsFilteredId(id))
        return hidFilterMgmt.SetReadDeviceValuesCallback(CKvHidFilterMgmt::ServiceId(id), callback, context);
    return hidDeviceMgmt.SetReadDeviceValuesCallback(id, callback, context);
}

uint32_t KVHR_CALL KvHRSetNotificationHandler(NotificationHandler handler, void* context)
{
    // The two handler locks are taken one after the other, never together.
    hidDeviceMgmt.SetNotificationHandler(handler, context);
    hidFilterMgmt.SetNotificationHandler(handler, context);
    return ERROR_SUCCESS;
}

uint32_t KVHR_CALL KvHRFilterGetScriptRunning(uint8_t* running)
{
    CKvExportLock lock("KvHRFilterGetScriptRunning");
    *running = static_cast<uint8_t>(hidFilterMgmt.ReadScriptState());
    return ERROR_SUCCESS;
}

uint32_t KVHR_CALL KvHRFilterGetDevicesList(uint32_t** list, uint32_t* count)
{
    *list = nullptr;
    *count = 0;
    CKvExportLock lock("KvHRFilterGetDevicesList");
    DWORD* serviceIds = nullptr;
    int n = static_cast<int>(MAX_FILTERED_DEVICES);
    const DWORD hRes = KvSCStatusGetSelectedDevices(&serviceIds, &n);
    if (hRes != ERROR_SUCCESS)
    {
        KV_VERIFY(hRes);
        return hRes;
    }
    if (n <= 0)
        return ERROR_SUCCESS;
    if (n > static_cast<int>(MAX_FILTERED_DEVICES))
    {
        // More devices than the capacity asked for: refused rather than cut, since which ones a cut list
        // kept could change from one call to the next.
        KvSCFree(serviceIds);
        KvDebugLog(TEXT("KvHRFilterGetDevicesList: the service reported %d filtered devices, more than %d\n"),
                   n, static_cast<int>(MAX_FILTERED_DEVICES));
        return ERROR_INSUFFICIENT_BUFFER;
    }
    uint32_t ids[MAX_FILTERED_DEVICES];
    for (int i = 0; i < n; ++i)
        ids[i] = serviceIds[i] | FILTERED_DEVICE_FLAG;
    KvSCFree(serviceIds);
    *list = static_cast<uint32_t*>(
        DllAlloc::MemCopyAlloc(ids, n * sizeof(uint32_t), TEXT("KvHRFilterGetDevicesList")));
    *count = static_cast<uint32_t>(n);
    return ERROR_SUCCESS;
}

uint32_t KVHR_CALL KvHRDirectInputGetVirtualDevicesList(uint32_t** list, uint32_t* count)
{
    *list = nullptr;
    *count = 0;
    CKvExportLock lock("KvHRDirectInputGetVirtualDevicesList");
    uint32_t ids[2];
    uint32_t n = 0;
    _stHidInputData* data = nullptr;
    if (KvSCStatusGetVirtualKeyboardCapabilities(&data) == ERROR_SUCCESS)
    {
        ids[n++] = VIRTUAL_KEYBOARD_ID;
        KvSCFree(data);
    }
    if (KvSCStatusGetVirtualMouseCapabilities(&data) == ERROR_SUCCESS)
    {
        ids[n++] = VIRTUAL_MOUSE_ID;
        KvSCFree(data);
    }
    *count = n;
    if (n != 0)
        *list = static_cast<uint32_t*>(
            DllAlloc::MemCopyAlloc(ids, n * sizeof(uint32_t), TEXT("KvHRDirectInputGetVirtualDevicesList")));
    return ERROR_SUCCESS;
}

uint32_t KVHR_CALL KvHRDirectInputGetVirtualKeyboardBtnsName(uint32_t key, const KvHRWChar** name)
{
    *name = key - 1 > 236 ? NO_KEY_NAME : GetVirtualKeyboardKeyName(key);
    return ERROR_SUCCESS;
}
