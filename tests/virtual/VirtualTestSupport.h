// Helpers shared by the virtual-device tests: open timers and queues, and waiting for ticks to pass.
#pragma once

#include "KvHidRaw.h"
#include "KvTestSupport.h"
#include "ValueRecorder.h"

#include "machine/DesktopControl.h"
#include "machine/Machine.h"

#include <functional>

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
inline bool PassTicks(ValueRecorder& probe, const std::function<void()>& makeEvent)
{
    for (int round = 0; round < 3; ++round)
    {
        const size_t before = probe.Count();
        makeEvent();
        if (!probe.WaitForCount(before + 1))
            return false;
    }
    return true;
}

// The keyboard's ticks, with the mouse as the probe.
inline bool PassKeyboardTicks(ValueRecorder& mouse)
{
    return PassTicks(mouse, [] { winport::machine::MoveMouse(1, 0); });
}

// The mouse's ticks, with the keyboard as the probe (F12 pressed and released in turn).
inline bool PassMouseTicks(ValueRecorder& keys)
{
    return PassTicks(keys,
                     []
                     {
                         static bool down = false;
                         down = !down;
                         down ? winport::machine::PressKey(0x58) : winport::machine::ReleaseKey(0x58);
                     });
}
