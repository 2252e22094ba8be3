// Records what the virtual keyboard's or mouse's values callback receives, and helpers shared by the
// virtual-device tests.
#pragma once

#include "KvHidRaw.h"
#include "KvTestSupport.h"

#include "machine/DesktopControl.h"
#include "machine/Machine.h"

#include <functional>
#include <mutex>
#include <vector>

struct VirtualCall
{
    _stHidValue value;
    uint32_t count;
};

class VirtualDeviceRecorder
{
public:
    static void KVHR_CALL Callback(void* context, const _stHidValue* values, uint32_t count)
    {
        VirtualDeviceRecorder* self = static_cast<VirtualDeviceRecorder*>(context);
        std::lock_guard<std::mutex> guard(self->m_mutex);
        self->m_calls.push_back(VirtualCall{count > 0 ? values[0] : _stHidValue{}, count});
    }

    std::vector<VirtualCall> Calls()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_calls;
    }
    size_t Size() { return Calls().size(); }
    bool WaitForCalls(size_t n)
    {
        return WaitUntil([&] { return Size() >= n; });
    }

private:
    std::mutex m_mutex;
    std::vector<VirtualCall> m_calls;
};

// Timer-queue timers and queues still open in the process.
inline int OpenHandles(const char* kind)
{
    const auto counts = winport::machine::Machine::Instance().QueryOpenResources().handlesByKind;
    const auto found = counts.find(kind);
    return found == counts.end() ? 0 : found->second;
}
inline int PollTimers()
{
    return OpenHandles("timer-queue timer");
}
inline int TimerQueues()
{
    return OpenHandles("timer queue");
}

// Both devices' timers tick on one queue thread, in the order they fall due, every 120 ms. Once the probe
// device has delivered an event made after some moment, then one made after that delivery, and so on three
// times, more than 120 ms of due times have passed on that thread: every tick of the other device that fell
// due in between has run, and has read what was waiting in its buffer. The probe must poll into `probe`.
inline bool PassTicks(VirtualDeviceRecorder& probe, const std::function<void()>& makeEvent)
{
    for (int round = 0; round < 3; ++round)
    {
        const size_t before = probe.Size();
        makeEvent();
        if (!probe.WaitForCalls(before + 1))
            return false;
    }
    return true;
}

// The keyboard's ticks, with the mouse as the probe.
inline bool PassKeyboardTicks(VirtualDeviceRecorder& mouse)
{
    return PassTicks(mouse, [] { winport::machine::MoveMouse(1, 0); });
}

// The mouse's ticks, with the keyboard as the probe (F12 pressed and released in turn).
inline bool PassMouseTicks(VirtualDeviceRecorder& keys)
{
    return PassTicks(keys,
                     []
                     {
                         static bool down = false;
                         down = !down;
                         down ? winport::machine::PressKey(0x58) : winport::machine::ReleaseKey(0x58);
                     });
}
