// Serialises the library's start and stop, whatever thread calls them.
//
// Application threads reach a start or stop under the call lock, but a callback's thread skips it and
// the thread running a start or stop may wait for that callback (the start announces under the filter's
// "&m_notifLock", which a running script-state handler holds; the stop waits for the running service
// notification). So a thread inside a callback never waits here: when a start or stop already runs, its
// request is queued and the running thread carries it out before it lets go. Other threads wait their turn.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <mutex>

class CKvLifecycleGate
{
public:
    typedef DWORD (*Operation)();

    // Runs the operation, then every operation queued meanwhile, in order. Returns the operation's
    // status, or ERROR_IO_PENDING (997) when it was queued behind the running one.
    DWORD Run(Operation operation, const char* name);
    // For the last detach: runs the operation and drops what is still queued (nothing starts while the
    // library unloads).
    void RunLast(Operation operation);

private:
    struct Request
    {
        Operation operation;
        const char* name;
    };

    bool Enter(std::unique_lock<std::mutex>& guard);
    void RunQueued(std::unique_lock<std::mutex>& guard);
    void Leave(); // with m_mutex held

    std::mutex m_mutex;
    std::condition_variable m_free;
    bool m_busy = false;
    std::deque<Request> m_queued;
};
