#include "KvHidFilterMgmt.h"

#include "KvCallbackScope.h"
#include "KvCheck.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace
{
// The axes a filtered device can have; row k describes axis entry k of the service's records.
struct FilterAxis
{
    USHORT usagePage;
    USHORT usage;
    DWORD index;
};

const FilterAxis FilterAxisTable[FILTER_AXIS_COUNT] = {
    {1, 0x30, 0}, {1, 0x31, 0}, {1, 0x32, 0}, {1, 0x33, 0}, {1, 0x34, 0}, {1, 0x35, 0}, // X Y Z Rx Ry Rz
    {2, 0xBB, 0},                                                                       // throttle
    {1, 0x36, 0}, {1, 0x36, 1}, {1, 0x36, 2}, {1, 0x36, 3},                             // four sliders
};

constexpr USHORT kButtonPage = 9;
constexpr USHORT kHatPage = 1;
constexpr USHORT kHatUsage = 0x39;
// The records have room for 8 hats, whatever count the service declares.
constexpr DWORD kMaxHats = 8;

enum class InputKind
{
    Button,
    Axis,
    Hat
};

// One input of a filtered device: where it sits in the service's records and what the library calls it.
struct FilteredInput
{
    InputKind kind;
    DWORD entry; // button i, axis entry k or hat j
    USHORT usagePage;
    USHORT usage;
    DWORD index;
};

static_assert(256 + FILTER_AXIS_COUNT + kMaxHats <= MAX_FILTERED_VALUES,
              "a delivery of every listed input fits its records");

bool AxisPresent(const _stHidPhysicalRange& axis)
{
    return axis.minValue != 0 || axis.maxValue != 0;
}

// The inputs a device's description lists, in the order of both records: the buttons, the present axes
// in table order, then the hats. Returns their number.
DWORD ListInputs(const _stHidPhysicalInputData& caps, FilteredInput (&inputs)[MAX_FILTERED_VALUES])
{
    DWORD n = 0;
    for (DWORD i = 0; i < caps.buttonCount; ++i)
        inputs[n++] = {InputKind::Button, i, kButtonPage, static_cast<USHORT>(i + 1), 0};
    for (DWORD k = 0; k < FILTER_AXIS_COUNT; ++k)
        if (AxisPresent(caps.axes[k]))
            inputs[n++] = {InputKind::Axis, k, FilterAxisTable[k].usagePage, FilterAxisTable[k].usage,
                           FilterAxisTable[k].index};
    const DWORD hats = std::min<DWORD>(caps.hatCount, kMaxHats);
    for (DWORD j = 0; j < hats; ++j)
        inputs[n++] = {InputKind::Hat, j, kHatPage, kHatUsage, j};
    return n;
}

DWORD InputValue(const _stHidInputData& input, const FilteredInput& which)
{
    switch (which.kind)
    {
        case InputKind::Button:
            return input.buttons[which.entry];
        case InputKind::Axis:
            return input.axes[which.entry].value;
        default:
            return input.hats[which.entry].value;
    }
}
} // namespace

CKvHidFilterMgmt::CKvHidFilterMgmt()
    : m_bInitialized(false), m_devLock(nullptr), m_notifLock(nullptr), m_bScriptRunning(false),
      m_runningNotifications(0), m_handlerPair(&m_notifLock, "CKvHidFilterMgmt::SetNotificationHandler",
                                               "CKvHidFilterMgmt::AddNotification"),
      m_filteredDevices()
{
    CLock::CreateLockPrimitiveEx(&m_devLock, "&m_devLock", enLockTypeDefault);
    CLock::CreateLockPrimitiveEx(&m_notifLock, "&m_notifLock", enLockTypeDefault);
}

CKvHidFilterMgmt::~CKvHidFilterMgmt()
{
    CLock::DeleteLockPrimitive(&m_devLock);
    CLock::DeleteLockPrimitive(&m_notifLock);
}

DWORD CKvHidFilterMgmt::Initialize()
{
    if (m_bInitialized)
    {
        KV_ASSERT(m_bInitialized == false);
        return ERROR_ALREADY_INITIALIZED;
    }
    // The service calls back only after registration below, so the slots need no lock here.
    ClearSlots();

    if (DWORD status = KvSCInitializeStatus())
        return status;
    KvSCStatusRegisterNotificationHandler(StatusNotificationCallback, this);
    const DWORD running = ReadScriptState();
    m_bInitialized = true;
    AddNotification(NOTIF_SCRIPT_STATE, running);
    return ERROR_SUCCESS;
}

void CKvHidFilterMgmt::ClearSlots()
{
    for (FilteredDeviceSlot& slot : m_filteredDevices)
    {
        slot.id = FILTER_SLOT_FREE;
        std::memset(&slot.caps, 0, sizeof slot.caps);
        slot.polling = 0;
        slot.callback = nullptr;
        slot.context = nullptr;
    }
}

DWORD CKvHidFilterMgmt::ReadScriptState()
{
    BYTE running = 0;
    KvSCStatusIsScriptRunning(&running);
    m_bScriptRunning = running != 0;
    return running != 0 ? 1 : 0;
}

int WINAPI CKvHidFilterMgmt::StatusNotificationCallback(void* context, _enKvServiceNotification code,
                                                        DWORD param, void* data)
{
    CKvHidFilterMgmt* pThis = static_cast<CKvHidFilterMgmt*>(context);
    ++pThis->m_runningNotifications;
    switch (code)
    {
        case enScriptStateChanged:
            KvDebugLogString(TEXT("Script state changed\n"));
            pThis->AddNotification(NOTIF_SCRIPT_STATE, pThis->ReadScriptState());
            break;
        case enDeviceInput:
            pThis->ParseDeviceInput(param, static_cast<const _stHidInputData*>(data));
            break;
        default:
            KV_ASSERT(false);
            break;
    }
    --pThis->m_runningNotifications;
    return 0;
}

bool CKvHidFilterMgmt::WaitNotificationsEnded(DWORD timeoutMs) const
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (m_runningNotifications != 0)
    {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void CKvHidFilterMgmt::AddNotification(DWORD event, DWORD value)
{
    m_handlerPair.Send(event, value);
}

void CKvHidFilterMgmt::SetNotificationHandler(NotificationHandler handler, void* context)
{
    m_handlerPair.Set(handler, context);
}

int CKvHidFilterMgmt::GetDevicePos(DWORD id)
{
    CLock hold(&m_devLock, "CKvHidFilterMgmt::GetDevicePos", false, true, KV_LOCK_TIMEOUT_MS);
    return FindSlot(id);
}

int CKvHidFilterMgmt::FindSlot(DWORD id) const
{
    for (int pos = 0; pos < static_cast<int>(MAX_FILTERED_DEVICES); ++pos)
        if (m_filteredDevices[pos].id == id)
            return pos;
    return -1;
}

// A thread inside another of the library's callbacks may hold locks that a running filtered delivery
// waits for (its values callback calling an export), so it must not wait for m_devLock. Outside
// callbacks, and in a filtered values callback, which holds m_devLock already, it waits as usual.
bool CKvHidFilterMgmt::MayWaitForDelivery()
{
    return !CKvCallbackScope::InsideCallback() || CLock::IsOwnedByCurrentThread(&m_devLock);
}

DWORD CKvHidFilterMgmt::SetPolling(DWORD id, DWORD flag)
{
    const bool wait = MayWaitForDelivery();
    CLock hold(&m_devLock, "CKvHidFilterMgmt::SetPolling", false, wait, KV_LOCK_TIMEOUT_MS);
    // When a delivery holds the lock, the flag is set without it: every delivery that starts afterwards
    // sees it; the running one finishes.
    const bool locked = wait || hold.Lock("CKvHidFilterMgmt::SetPolling", 0) == 0;
    const int pos = locked ? GetDevicePos(id) : FindSlot(id);
    if (pos == -1)
        return ERROR_NOT_FOUND;
    m_filteredDevices[pos].polling = flag;
    return ERROR_SUCCESS;
}

DWORD CKvHidFilterMgmt::SetReadDeviceValuesCallback(DWORD id, ReadDeviceValuesCallback callback,
                                                    void* context)
{
    DWORD hRes = ERROR_SUCCESS;
    _stHidPhysicalInputData* pData = nullptr;
    if (callback)
    {
        // Asked before any lock is taken: the service may be slow.
        hRes = KvSCStatusGetSelectedDevicePhysicalCapabilities(id, &pData);
        KV_VERIFY(hRes);
        if (hRes != ERROR_SUCCESS)
            pData = nullptr;
    }

    const bool wait = MayWaitForDelivery();
    CLock hold(&m_devLock, "CKvHidFilterMgmt::SetReadDeviceValuesCallback", false, wait, KV_LOCK_TIMEOUT_MS);
    if (!wait && hold.Lock("CKvHidFilterMgmt::SetReadDeviceValuesCallback", 0) != 0)
    {
        // A delivery holds the lock, and its callback may be waiting for what this thread holds.
        if (pData)
            KvSCFree(pData);
        return ERROR_POSSIBLE_DEADLOCK;
    }
    int pos = GetDevicePos(id);
    if (pos == -1)
    {
        if (!callback)
            return ERROR_NOT_FOUND;
        pos = GetDevicePos(FILTER_SLOT_FREE);
        if (pos == -1)
        {
            KV_ASSERT(pos != -1);
            if (pData)
                KvSCFree(pData);
            return ERROR_INSUFFICIENT_BUFFER;
        }
        m_filteredDevices[pos].id = id;
    }
    FilteredDeviceSlot& slot = m_filteredDevices[pos];
    if (callback)
    {
        KV_ASSERT(pData);
        if (pData)
        {
            std::memcpy(&slot.caps, pData, sizeof slot.caps);
            KvSCFree(pData);
        }
    }
    slot.callback = callback;
    slot.context = context;
    return hRes;
}

void CKvHidFilterMgmt::GetDeviceName(DWORD id, WCHAR (&name)[FILTER_NAME_CHARS])
{
    wcscpy_s(name, TEXT("FILTER-Implement"));
    WCHAR* serviceName = nullptr;
    KvSCStatusGetFilteredDeviceName(id, &serviceName);
    if (serviceName)
    {
        wcsncpy_s(name, FILTER_NAME_CHARS, serviceName, _TRUNCATE);
        KvSCFree(serviceName);
    }
}

DWORD CKvHidFilterMgmt::TranslateHidInputToHidCapabilities(const _stHidPhysicalInputData* pData,
                                                           _stHidCapability* buffer, DWORD* numCap)
{
    const DWORD capCount = static_cast<DWORD>(pData->buttonCount) + pData->axisCount + pData->hatCount;
    if (capCount > *numCap)
    {
        *numCap = capCount;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    FilteredInput inputs[MAX_FILTERED_VALUES];
    const DWORD listed = ListInputs(*pData, inputs);
    DWORD pos = 0;
    for (; pos < listed; ++pos)
    {
        const FilteredInput& input = inputs[pos];
        LONG minValue = 0;
        LONG maxValue = 1;
        if (input.kind == InputKind::Button)
        {
            const DWORD i = input.entry;
            KV_ASSERT(pData->buttons[i] != 0);
        }
        else
        {
            const _stHidPhysicalRange& range =
                input.kind == InputKind::Axis ? pData->axes[input.entry] : pData->hats[input.entry];
            minValue = range.minValue;
            maxValue = range.maxValue;
        }
        // A description whose counts disagree with its entries lists more than it declared: the
        // surplus beyond the capacity is dropped, never written.
        if (pos >= *numCap)
            continue;
        _stHidCapability& cap = buffer[pos];
        cap.usage = input.usage;
        cap.usagePage = input.usagePage;
        cap.isAbsolute = 1;
        cap.minValue = minValue;
        cap.maxValue = maxValue;
        cap.index = input.index;
    }
    KV_ASSERT(pos <= *numCap);
    // The condition's text is the logged check, spaced as it is.
    // clang-format off
    KV_ASSERT(pos<=capCount);
    // clang-format on
    *numCap = std::min(pos, *numCap);
    return ERROR_SUCCESS;
}

DWORD CKvHidFilterMgmt::GetDeviceCapabilities(DWORD id, _stHidCapability* buffer, DWORD* numCap)
{
    _stHidPhysicalInputData* pData = nullptr;
    const DWORD hRes = KvSCStatusGetSelectedDevicePhysicalCapabilities(id, &pData);
    if (hRes != ERROR_SUCCESS || pData == nullptr)
    {
        *numCap = 0;
        return hRes != ERROR_SUCCESS ? hRes : ERROR_INVALID_DATA;
    }
    const DWORD result = TranslateHidInputToHidCapabilities(pData, buffer, numCap);
    KvSCFree(pData);
    return result;
}

DWORD CKvHidFilterMgmt::ParseDeviceInput(DWORD id, const _stHidInputData* input)
{
    if (input == nullptr)
    {
        KV_ASSERT(input != nullptr);
        return ERROR_INVALID_PARAMETER;
    }
    CLock hold(&m_devLock, "CKvHidFilterMgmt::ParseDeviceInput", false, true, KV_LOCK_TIMEOUT_MS);
    const int pos = GetDevicePos(id);
    if (pos == -1)
        return ERROR_NOT_FOUND;
    const FilteredDeviceSlot& slot = m_filteredDevices[pos];
    // A service thread may still hold input it took before the library stopped from inside a callback.
    if (slot.polling == 0 || slot.callback == nullptr || !m_bInitialized)
        return ERROR_NO_CALLBACK_ACTIVE;

    // The slot's copy of the description decides which inputs are listed; every delivery carries all of
    // them, changed or not, built on the stack.
    FilteredInput inputs[MAX_FILTERED_VALUES];
    const DWORD listed = ListInputs(slot.caps, inputs);
    _stHidValue crtInputData[MAX_FILTERED_VALUES];
    std::memset(crtInputData, 0, sizeof crtInputData);
    for (DWORD hidPos = 0; hidPos < listed; ++hidPos)
    {
        _stHidValue& value = crtInputData[hidPos];
        value.usage = inputs[hidPos].usage;
        value.usagePage = inputs[hidPos].usagePage;
        value.value = InputValue(*input, inputs[hidPos]);
        value.scaledValue = static_cast<LONG>(value.value);
        value.index = inputs[hidPos].index;
    }
    CKvCallbackScope callback;
    slot.callback(slot.context, crtInputData, listed);
    return ERROR_SUCCESS;
}
