// A timer queue with its own thread, which runs every callback of the queue's timers in turn
// (the WT_EXECUTEINTIMERTHREAD model, used for every flag value). Timers run on real time.
//
// Deletion follows Windows' documented rules: with INVALID_HANDLE_VALUE the call waits for running
// callbacks; with NULL or an event it returns at once, failing with ERROR_IO_PENDING when a callback
// of the timer is still running (the event is set once it has returned). A blocking deletion made
// from inside a callback of the same queue, which Windows leaves to deadlock, does not wait: it fails
// with ERROR_IO_PENDING and the deletion completes when the callback returns. Once a deleted queue's
// last callback has returned its thread ends and is joined.
#pragma once

#include "Event.h"
#include "KernelObject.h"
#include "QueueTimer.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace winport::kernel32
{

// What the caller of a deletion asked for: wait, return at once, or set an event when done.
struct Completion
{
    enum class Kind
    {
        Wait,
        NoWait,
        SetEvent
    } kind;
    std::shared_ptr<Event> event;
};

class TimerQueue : public KernelObject, public std::enable_shared_from_this<TimerQueue>
{
public:
    TimerQueue();
    ~TimerQueue() override;

    const char* KindName() const override { return "timer queue"; }
    bool ClosableByCloseHandle() const override { return false; }

    void Start();
    std::shared_ptr<QueueTimer> AddTimer(WAITORTIMERCALLBACK callback, PVOID parameter, DWORD dueMs,
                                         DWORD periodMs);
    bool ChangeTimer(QueueTimer& timer, DWORD dueMs, DWORD periodMs);
    // Return TRUE, or FALSE with the last error set.
    BOOL DeleteTimer(QueueTimer& timer, const Completion& completion);
    BOOL Delete(const Completion& completion);
    // Timers not yet deleted, so their handles can be retired with the queue.
    std::vector<std::shared_ptr<QueueTimer>> Timers();
    // Stops the thread and joins it, at unload, for a queue the program never deleted.
    void StopAndJoin();

private:
    void Loop();
    QueueTimer* NextDueLocked();
    void RunLocked(std::unique_lock<std::mutex>& guard, QueueTimer& timer);
    bool OnQueueThread() const { return std::this_thread::get_id() == m_threadId; }

    std::mutex m_lock;
    std::condition_variable m_wake; // the queue thread: the schedule changed or the queue stops
    std::condition_variable m_idle; // deleters: a callback returned
    std::vector<std::shared_ptr<QueueTimer>> m_timers;
    bool m_stopping = false;
    std::shared_ptr<Event> m_completion; // set when the thread ends after deletion
    std::thread m_thread;
    std::thread::id m_threadId;
    std::shared_ptr<std::atomic<bool>> m_finished = std::make_shared<std::atomic<bool>>(false);
};

} // namespace winport::kernel32
