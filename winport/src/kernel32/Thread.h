// A thread started by CreateThread. It may start suspended; it runs its routine once its suspend
// count reaches zero, and it is signalled (for waits) when the routine has returned, with the
// routine's result as exit code. The std::thread behind it belongs to the ThreadReaper, which joins
// it after it ends, whatever happens to the handles.
//
// Priorities are recorded and reported but do not change scheduling: an unprivileged Linux process
// cannot raise a thread above normal.
#pragma once

#include "KernelObject.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace winport::kernel32
{

class Thread : public KernelObject
{
public:
    Thread(LPTHREAD_START_ROUTINE routine, LPVOID parameter, bool suspended);

    // Starts the system thread; it waits for ResumeThread if the Thread was created suspended.
    void Launch(const std::shared_ptr<Thread>& self);

    const char* KindName() const override { return "thread"; }
    bool IsWaitable() const override { return true; }
    bool IsSignaledLocked(DWORD) const override { return m_finished; }
    // A thread whose every handle is closed while still suspended can never run: it ends unstarted.
    void OnLastHandleClosed() override;

    DWORD Id() const { return m_id; }
    // The previous suspend count, as ResumeThread returns it.
    DWORD Resume();
    void SetPriority(int priority) { m_priority.store(priority); }
    int Priority() const { return m_priority.load(); }
    // STILL_ACTIVE while the routine runs.
    DWORD ExitCode() const;

private:
    void Run();
    void Finish(DWORD exitCode);

    const LPTHREAD_START_ROUTINE m_routine;
    const LPVOID m_parameter;
    const DWORD m_id;
    std::atomic<int> m_priority{THREAD_PRIORITY_NORMAL};

    std::mutex m_startLock;
    std::condition_variable m_startCv;
    DWORD m_suspendCount; // guarded by startLock_
    bool m_cancelled = false;

    bool m_finished = false; // guarded by the dispatcher lock
    DWORD m_exitCode = STILL_ACTIVE;
};

} // namespace winport::kernel32
