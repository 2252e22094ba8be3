// A timer of a timer queue. Its state belongs to its queue and is guarded by the queue's lock.
#pragma once

#include "Event.h"
#include "KernelObject.h"

#include <chrono>
#include <memory>

namespace winport::kernel32
{

class TimerQueue;

class QueueTimer : public KernelObject
{
public:
    QueueTimer(TimerQueue* queue, WAITORTIMERCALLBACK callback, PVOID parameter)
        : queue(queue), callback(callback), parameter(parameter)
    {
    }

    const char* KindName() const override { return "timer-queue timer"; }
    // Only DeleteTimerQueueTimer deletes a timer.
    bool ClosableByCloseHandle() const override { return false; }

    TimerQueue* const queue;
    const WAITORTIMERCALLBACK callback;
    const PVOID parameter;
    HANDLE handle = nullptr; // set once, right after the timer enters the handle table

    // Guarded by the queue's lock.
    std::chrono::steady_clock::time_point due;
    std::chrono::milliseconds period{0};
    bool scheduled = false;
    bool deleted = false;
    int running = 0;                   // callbacks under way (0 or 1: one queue thread)
    std::shared_ptr<Event> completion; // set when the last running callback returns
};

} // namespace winport::kernel32
