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
    bool IsSignaledLocked(DWORD) const override { return finished_; }
    // A thread whose every handle is closed while still suspended can never run: it ends unstarted.
    void OnLastHandleClosed() override;

    DWORD Id() const { return id_; }
    // The previous suspend count, as ResumeThread returns it.
    DWORD Resume();
    void SetPriority(int priority) { priority_.store(priority); }
    int Priority() const { return priority_.load(); }
    // STILL_ACTIVE while the routine runs.
    DWORD ExitCode() const;

private:
    void Run();
    void Finish(DWORD exitCode);

    const LPTHREAD_START_ROUTINE routine_;
    const LPVOID parameter_;
    const DWORD id_;
    std::atomic<int> priority_{THREAD_PRIORITY_NORMAL};

    std::mutex startLock_;
    std::condition_variable startCv_;
    DWORD suspendCount_; // guarded by startLock_
    bool cancelled_ = false;

    bool finished_ = false; // guarded by the dispatcher lock
    DWORD exitCode_ = STILL_ACTIVE;
};

} // namespace winport::kernel32
