#include "KvHidDirectInput.h"

#include "KvCallbackScope.h"

#include <algorithm>

// Windows' code for a tick that finds nobody to deliver to; winport's <winerror.h> lacks it so far.
#ifndef ERROR_NO_CALLBACK_ACTIVE
#define ERROR_NO_CALLBACK_ACTIVE 614L
#endif

namespace
{
struct MouseAxis
{
    USHORT usagePage;
    USHORT usage;
};

// The mouse's axes in the order DirectInput reports them: X, Y and the wheel; the other rows are unnamed.
constexpr MouseAxis MouseAxisTable[12] = {{1, 0x30}, {1, 0x31}, {1, 0x32}};
constexpr DWORD MOUSE_AXIS_ROWS = 12;
// c_dfDIMouse2 carries eight buttons; a record for a ninth could never receive a value.
constexpr DWORD MOUSE_FORMAT_BUTTONS = 8;
constexpr DWORD KEYBOARD_RECORDS = 255;
constexpr USHORT BUTTON_PAGE = 9;
// Re-acquiring after lost input is retried this often per tick; the next tick tries again.
constexpr int ACQUIRE_ATTEMPTS = 16;

// Set while this thread runs a polling tick: a stop from inside a tick must not wait for that tick.
thread_local bool insidePollTick = false;

DWORD LastErrorOrUnidentified()
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_UNIDENTIFIED_ERROR;
}

HANDLE StopEventForCurrentThread()
{
    // INVALID_HANDLE_VALUE waits for a running tick; a tick's own thread cannot, so it lets the timer or
    // queue go once the tick returns.
    return insidePollTick ? nullptr : INVALID_HANDLE_VALUE;
}
} // namespace

CKvHidDirectInput::CKvHidDirectInput()
    : m_hTimerQueue(nullptr), m_devCaps(), m_pDirectInput(nullptr), m_pDevices(), m_devInstances(),
      m_setupDevIndex(0), m_devLock(nullptr), m_virtualDevs(), m_pollTimers(), m_timerLock(nullptr)
{
    CLock::CreateLockPrimitiveEx(&m_devLock, "&m_devLock", enLockTypeDefault);
    CLock::CreateLockPrimitiveEx(&m_timerLock, "&m_timerLock", enLockTypeDefault);
    for (DWORD i = 0; i < VIRTUAL_DEV_COUNT; ++i)
    {
        m_pollTimers[i].owner = this;
        m_pollTimers[i].devIndex = i;
        m_pollTimers[i].timer = INVALID_HANDLE_VALUE;
    }
}

CKvHidDirectInput::~CKvHidDirectInput()
{
    DeletePollingQueueOnUnload();
    CLock::DeleteLockPrimitive(&m_timerLock);
    CLock::DeleteLockPrimitive(&m_devLock);
}

DWORD CKvHidDirectInput::Initialize()
{
    DeletePollingQueue();
    HANDLE queue = CreateTimerQueue();
    if (queue == nullptr)
        return ERROR_INVALID_HANDLE;
    ResetState();
    {
        CLock hold(&m_timerLock, "CKvHidDirectInput::Initialize", false, true, KV_LOCK_TIMEOUT_MS);
        m_hTimerQueue = queue;
    }
    HRESULT hr = DirectInput8Create(GetModuleHandleW(TEXT("KvHidRaw.dll")), DIRECTINPUT_VERSION,
                                    IID_IDirectInput8W, reinterpret_cast<void**>(&m_pDirectInput), nullptr);
    if (FAILED(hr))
        return hr;
    hr = m_pDirectInput->EnumDevices(DI8DEVCLASS_ALL, EnumDevicesCallback, this, DIEDFL_ALLDEVICES);
    if (FAILED(hr))
        return hr;
    if (m_devInstances[VIRTUAL_KEYBOARD_INDEX].dwSize != 0)
    {
        hr = SetupDevice(m_devInstances[VIRTUAL_KEYBOARD_INDEX], VIRTUAL_KEYBOARD_INDEX);
        if (hr != S_OK)
            return hr;
    }
    if (m_devInstances[VIRTUAL_MOUSE_INDEX].dwSize != 0)
        return SetupDevice(m_devInstances[VIRTUAL_MOUSE_INDEX], VIRTUAL_MOUSE_INDEX);
    return ERROR_SUCCESS;
}

void CKvHidDirectInput::ResetState()
{
    m_setupDevIndex = 0;
    for (DWORD i = 0; i < VIRTUAL_DEV_COUNT; ++i)
    {
        m_devInstances[i] = DIDEVICEINSTANCEW{};
        m_virtualDevs[i].polling = 0;
    }
    {
        CLock hold(&m_timerLock, "CKvHidDirectInput::Initialize", false, true, KV_LOCK_TIMEOUT_MS);
        for (DIDEVCAPS& caps : m_devCaps)
            caps = DIDEVCAPS{};
    }
    CLock hold(&m_devLock, "CKvHidDirectInput::Initialize", false, true, KV_LOCK_TIMEOUT_MS);
    for (VirtualDevDelivery& dev : m_virtualDevs)
    {
        dev.callback = nullptr;
        dev.context = nullptr;
    }
}

BOOL CALLBACK CKvHidDirectInput::EnumDevicesCallback(LPCDIDEVICEINSTANCEW instance, LPVOID pThis)
{
    CKvHidDirectInput* self = static_cast<CKvHidDirectInput*>(pThis);
    const BYTE type = GET_DIDEVICE_TYPE(instance->dwDevType);
    // A later keyboard or mouse replaces an earlier one: the last of each is set up.
    if (type == DI8DEVTYPE_KEYBOARD)
        self->m_devInstances[VIRTUAL_KEYBOARD_INDEX] = *instance;
    else if (type == DI8DEVTYPE_MOUSE)
        self->m_devInstances[VIRTUAL_MOUSE_INDEX] = *instance;
    return DIENUM_CONTINUE;
}

HRESULT CKvHidDirectInput::SetupDevice(const DIDEVICEINSTANCEW& instance, int index)
{
    HRESULT hr = m_pDirectInput->CreateDevice(instance.guidInstance, &m_pDevices[index], nullptr);
    if (FAILED(hr))
        return hr;
    IDirectInputDevice8W* device = m_pDevices[index];
    hr = device->SetDataFormat(index == VIRTUAL_MOUSE_INDEX ? &c_dfDIMouse2 : &c_dfDIKeyboard);
    if (FAILED(hr))
        return hr;
    DIDEVCAPS caps{};
    caps.dwSize = sizeof(DIDEVCAPS);
    hr = device->GetCapabilities(&caps);
    if (FAILED(hr))
        return hr;
    {
        CLock hold(&m_timerLock, "CKvHidDirectInput::SetupDevice", false, true, KV_LOCK_TIMEOUT_MS);
        m_devCaps[index] = caps;
    }
    m_setupDevIndex = index;
    m_bufferSizeStatus = DIERR_NOTBUFFERED;
    hr = device->EnumObjects(EnumObjectsCallback, this, DIDFT_ALL);
    // An unbuffered device answers every read with an error: it would deliver nothing, and say nothing.
    if (SUCCEEDED(hr) && FAILED(m_bufferSizeStatus))
        KvDebugLog(
            TEXT("CKvHidDirectInput: the buffer size of the %ws could not be set (0x%08x); it delivers "
                 "nothing"),
            index == VIRTUAL_MOUSE_INDEX ? TEXT("mouse") : TEXT("keyboard"),
            static_cast<unsigned>(m_bufferSizeStatus));
    device->Acquire();
    return hr;
}

BOOL CALLBACK CKvHidDirectInput::EnumObjectsCallback(LPCDIDEVICEOBJECTINSTANCEW, LPVOID pThis)
{
    CKvHidDirectInput* self = static_cast<CKvHidDirectInput*>(pThis);
    DIPROPDWORD bufferSize{};
    bufferSize.diph.dwSize = sizeof(DIPROPDWORD);
    bufferSize.diph.dwHeaderSize = sizeof(DIPROPHEADER);
    bufferSize.diph.dwObj = 0;
    bufferSize.diph.dwHow = DIPH_DEVICE;
    bufferSize.dwData = VIRTUAL_DEV_BUFFER_SIZE;
    const HRESULT hr =
        self->m_pDevices[self->m_setupDevIndex]->SetProperty(DIPROP_BUFFERSIZE, &bufferSize.diph);
    if (SUCCEEDED(hr))
    {
        self->m_bufferSizeStatus = DI_OK;
        return DIENUM_CONTINUE;
    }
    if (self->m_bufferSizeStatus != DI_OK)
        self->m_bufferSizeStatus = hr;
    // The thread's last error is the answer, so the enumeration goes on unless it is 0.
    return static_cast<BOOL>(GetLastError());
}

DIDEVCAPS CKvHidDirectInput::MouseCaps() const
{
    // Any thread may ask (a values callback of another device too) while a start sets the devices up.
    CLock hold(&m_timerLock, "CKvHidDirectInput::GetVirtualDevCapabilities", false, true, KV_LOCK_TIMEOUT_MS);
    return m_devCaps[VIRTUAL_MOUSE_INDEX];
}

DWORD CKvHidDirectInput::GetVirtualDevCapabilities(DWORD index, _stHidCapability* buffer,
                                                   uint32_t* capacity) const
{
    if (index >= VIRTUAL_DEV_COUNT)
        return ERROR_INVALID_PARAMETER;
    const bool keyboard = index == VIRTUAL_KEYBOARD_INDEX;
    const DIDEVCAPS mouse = keyboard ? DIDEVCAPS{} : MouseCaps();
    const DWORD axes = std::min(mouse.dwAxes, MOUSE_AXIS_ROWS);
    const DWORD needed = keyboard ? KEYBOARD_RECORDS : axes + std::min(mouse.dwButtons, MOUSE_FORMAT_BUTTONS);
    if (needed > *capacity)
    {
        *capacity = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    _stHidCapability button{};
    button.usagePage = BUTTON_PAGE;
    button.minValue = 0;
    button.maxValue = 1;
    if (keyboard)
    {
        for (DWORD i = 0; i < KEYBOARD_RECORDS; ++i)
        {
            buffer[i] = button;
            buffer[i].usage = static_cast<uint16_t>(i + 1);
        }
        return ERROR_SUCCESS;
    }
    for (DWORD i = 0; i < axes; ++i)
    {
        _stHidCapability& axis = buffer[i];
        axis = _stHidCapability{};
        axis.usagePage = MouseAxisTable[i].usagePage;
        axis.usage = MouseAxisTable[i].usage;
        axis.minValue = -32767;
        axis.maxValue = 32767;
    }
    for (DWORD j = 0; axes + j < needed; ++j)
    {
        buffer[axes + j] = button;
        buffer[axes + j].usage = static_cast<uint16_t>(j + 1);
    }
    return ERROR_SUCCESS;
}

DWORD CKvHidDirectInput::StartPollingTimer(DWORD index)
{
    if (index >= VIRTUAL_DEV_COUNT)
        return 0xFFFFFFFF;
    CLock hold(&m_timerLock, "CKvHidDirectInput::StartPollingTimer", false, true, KV_LOCK_TIMEOUT_MS);
    PollTimerSlot& slot = m_pollTimers[index];
    if (slot.timer != INVALID_HANDLE_VALUE)
        return ERROR_SUCCESS;
    // Without a queue the timer would land on the process's default queue, which the stop never deletes.
    if (m_hTimerQueue == nullptr)
        return ERROR_INVALID_HANDLE;
    // The first tick may come before CreateTimerQueueTimer returns; it must already see the timer running.
    slot.running = true;
    HANDLE timer = nullptr;
    if (!CreateTimerQueueTimer(&timer, m_hTimerQueue, PollTimerCallback, &slot, 0, POLL_PERIOD_MS,
                               WT_EXECUTEINTIMERTHREAD))
    {
        slot.running = false;
        return LastErrorOrUnidentified();
    }
    slot.timer = timer;
    return ERROR_SUCCESS;
}

HANDLE CKvHidDirectInput::TakeTimer(DWORD index)
{
    PollTimerSlot& slot = m_pollTimers[index];
    const HANDLE timer = slot.timer;
    slot.timer = INVALID_HANDLE_VALUE;
    slot.running = false;
    return timer;
}

void CKvHidDirectInput::DeleteTimer(HANDLE queue, HANDLE timer)
{
    if (timer != INVALID_HANDLE_VALUE)
        DeleteTimerQueueTimer(queue, timer, StopEventForCurrentThread());
}

void CKvHidDirectInput::StopPollingTimers()
{
    HANDLE queue = nullptr;
    HANDLE timers[VIRTUAL_DEV_COUNT];
    {
        // Taken out under the lock, deleted without it: a tick being waited for may call in here itself.
        CLock hold(&m_timerLock, "CKvHidDirectInput::StopPollingTimers", false, true, KV_LOCK_TIMEOUT_MS);
        queue = m_hTimerQueue;
        for (DWORD i = 0; i < VIRTUAL_DEV_COUNT; ++i)
            timers[i] = TakeTimer(i);
    }
    for (HANDLE timer : timers)
        DeleteTimer(queue, timer);
}

void CKvHidDirectInput::DeletePollingQueue()
{
    DeleteQueue(StopEventForCurrentThread());
}

void CKvHidDirectInput::DeletePollingQueueOnUnload()
{
    DeleteQueue(nullptr);
}

void CKvHidDirectInput::ForgetOnProcessExit()
{
    CLock hold(&m_timerLock, "CKvHidDirectInput::ForgetOnProcessExit", false, true, KV_LOCK_TIMEOUT_MS);
    m_hTimerQueue = nullptr;
    for (DWORD i = 0; i < VIRTUAL_DEV_COUNT; ++i)
        TakeTimer(i);
    for (IDirectInputDevice8W*& device : m_pDevices)
        device = nullptr;
    m_pDirectInput = nullptr;
}

// The timers go first, each waited for unless this is a tick's own thread: no tick of ours runs afterwards.
// Then the queue, whose deletion waits for the end of its thread when queueEvent is INVALID_HANDLE_VALUE.
void CKvHidDirectInput::DeleteQueue(HANDLE queueEvent)
{
    HANDLE queue = nullptr;
    HANDLE timers[VIRTUAL_DEV_COUNT];
    {
        CLock hold(&m_timerLock, "CKvHidDirectInput::DeletePollingQueue", false, true, KV_LOCK_TIMEOUT_MS);
        queue = m_hTimerQueue;
        m_hTimerQueue = nullptr;
        for (DWORD i = 0; i < VIRTUAL_DEV_COUNT; ++i)
            timers[i] = TakeTimer(i);
    }
    if (queue != nullptr)
    {
        for (HANDLE timer : timers)
            DeleteTimer(queue, timer);
        DeleteTimerQueueEx(queue, queueEvent);
    }
    ReleaseInterfaces();
}

// No tick runs any more (or, from a tick, the tick has read its events): nothing uses the interfaces.
void CKvHidDirectInput::ReleaseInterfaces()
{
    for (IDirectInputDevice8W*& device : m_pDevices)
    {
        if (device == nullptr)
            continue;
        device->Unacquire();
        device->Release();
        device = nullptr;
    }
    if (m_pDirectInput != nullptr)
    {
        m_pDirectInput->Release();
        m_pDirectInput = nullptr;
    }
}

VOID CALLBACK CKvHidDirectInput::PollTimerCallback(PVOID parameter, BOOLEAN)
{
    const PollTimerSlot* slot = static_cast<const PollTimerSlot*>(parameter);
    insidePollTick = true;
    slot->owner->ReadVirtualDevValues(slot->devIndex);
    insidePollTick = false;
}

DWORD CKvHidDirectInput::ReadVirtualDevValues(DWORD index)
{
    IDirectInputDevice8W* device = m_pDevices[index];
    if (device == nullptr)
        return ERROR_SUCCESS;
    DIDEVICEOBJECTDATA events[VIRTUAL_DEV_BUFFER_SIZE];
    DWORD count = VIRTUAL_DEV_BUFFER_SIZE;
    if (device->GetDeviceData(sizeof(DIDEVICEOBJECTDATA), events, &count, 0) != DI_OK)
    {
        for (int attempt = 0; attempt < ACQUIRE_ATTEMPTS && device->Acquire() == DIERR_INPUTLOST; ++attempt)
        {
        }
        return ERROR_SUCCESS;
    }
    for (DWORD i = 0; i < count; ++i)
    {
        // Read before every event: a callback that switched polling off or stopped the timers gets nothing
        // more, not even the rest of this tick.
        ReadDeviceValuesCallback callback = nullptr;
        void* context = nullptr;
        if (!NextDelivery(index, &callback, &context))
            return ERROR_NO_CALLBACK_ACTIVE;
        Deliver(index, events[i], callback, context);
    }
    return ERROR_SUCCESS;
}

bool CKvHidDirectInput::NextDelivery(DWORD index, ReadDeviceValuesCallback* callback, void** context)
{
    if (m_virtualDevs[index].polling == 0 || !m_pollTimers[index].running)
        return false;
    CLock hold(&m_devLock, "CKvHidDirectInput::ReadVirtualDevValues", false, true, KV_LOCK_TIMEOUT_MS);
    *callback = m_virtualDevs[index].callback;
    *context = m_virtualDevs[index].context;
    return *callback != nullptr;
}

void CKvHidDirectInput::Deliver(DWORD index, const DIDEVICEOBJECTDATA& event,
                                ReadDeviceValuesCallback callback, void* context) const
{
    _stHidValue value{};
    if (index == VIRTUAL_KEYBOARD_INDEX)
    {
        value.usage = LOWORD(event.dwOfs);
        value.usagePage = BUTTON_PAGE;
        value.value = event.dwData != 0 ? 1 : 0;
    }
    else if (event.dwOfs == DIMOFS_X || event.dwOfs == DIMOFS_Y || event.dwOfs == DIMOFS_Z)
    {
        const MouseAxis& axis = MouseAxisTable[event.dwOfs / sizeof(LONG)];
        value.usagePage = axis.usagePage;
        value.usage = axis.usage;
        value.value = event.dwData; // the relative movement, a signed number
    }
    else if (event.dwOfs >= DIMOFS_BUTTON0 && event.dwOfs <= DIMOFS_BUTTON7)
    {
        value.usagePage = BUTTON_PAGE;
        value.usage = static_cast<uint16_t>(event.dwOfs - 11);
        value.value = event.dwData != 0 ? 1 : 0;
    }
    else
    {
        return; // no object of c_dfDIMouse2 lies there
    }
    value.scaledValue = static_cast<int32_t>(value.value);
    CKvCallbackScope scope;
    callback(context, &value, 1);
}

DWORD CKvHidDirectInput::SetReadVirtualDevValuesCallback(DWORD index, ReadDeviceValuesCallback callback,
                                                         void* context)
{
    CLock hold(&m_devLock, "CKvHidDirectInput::SetReadVirtualDevValuesCallback", false, true,
               KV_LOCK_TIMEOUT_MS);
    m_virtualDevs[index].callback = callback;
    m_virtualDevs[index].context = context;
    return ERROR_SUCCESS;
}
