#include "Thread.h"

#include "Dispatcher.h"
#include "ThreadReaper.h"
#include "ThreadState.h"
#include "src/user32/ThreadExitWatch.h"

#include <thread>

namespace winport::kernel32
{

Thread::Thread(LPTHREAD_START_ROUTINE routine, LPVOID parameter, bool suspended)
    : routine_(routine), parameter_(parameter), id_(ThreadState::NewId()), suspendCount_(suspended ? 1 : 0)
{
}

void Thread::Launch(const std::shared_ptr<Thread>& self)
{
    auto finished = std::make_shared<std::atomic<bool>>(false);
    ThreadReaper& reaper = ThreadReaper::Instance();
    reaper.ThreadStarted();
    std::thread system(
        [self, finished]
        {
            self->Run();
            finished->store(true, std::memory_order_release);
        });
    reaper.Adopt(std::move(system), finished);
}

void Thread::Run()
{
    {
        std::unique_lock<std::mutex> guard(startLock_);
        startCv_.wait(guard, [this] { return suspendCount_ == 0 || cancelled_; });
        if (cancelled_)
        {
            guard.unlock();
            Finish(0);
            return;
        }
    }
    ThreadState::Adopt(this, id_);
    DWORD code = routine_(parameter_);
    // The thread's windows and timers are gone before a waiter sees the thread signalled, as on Windows.
    winport::user32::EndThreadQueue();
    ThreadState::Adopt(nullptr, id_);
    Finish(code);
}

void Thread::Finish(DWORD exitCode)
{
    // Counted as ended before anyone waiting for it can see it signalled.
    ThreadReaper::Instance().ThreadEnded();
    std::lock_guard<std::mutex> guard(Dispatcher::Lock());
    exitCode_ = exitCode;
    finished_ = true;
    Dispatcher::SignalLocked(*this);
}

DWORD Thread::Resume()
{
    std::lock_guard<std::mutex> guard(startLock_);
    DWORD previous = suspendCount_;
    if (suspendCount_ > 0 && --suspendCount_ == 0)
        startCv_.notify_all();
    return previous;
}

void Thread::OnLastHandleClosed()
{
    std::lock_guard<std::mutex> guard(startLock_);
    if (suspendCount_ > 0)
    {
        cancelled_ = true;
        startCv_.notify_all();
    }
}

DWORD Thread::ExitCode() const
{
    std::lock_guard<std::mutex> guard(Dispatcher::Lock());
    return exitCode_;
}

} // namespace winport::kernel32
