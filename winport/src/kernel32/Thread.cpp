#include "Thread.h"

#include "Dispatcher.h"
#include "ThreadReaper.h"
#include "ThreadState.h"
#include "src/user32/ThreadExitWatch.h"

#include <thread>

namespace winport::kernel32
{

Thread::Thread(LPTHREAD_START_ROUTINE routine, LPVOID parameter, bool suspended)
    : m_routine(routine), m_parameter(parameter), m_id(ThreadState::NewId()),
      m_suspendCount(suspended ? 1 : 0)
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
        std::unique_lock<std::mutex> guard(m_startLock);
        m_startCv.wait(guard, [this] { return m_suspendCount == 0 || m_cancelled; });
        if (m_cancelled)
        {
            guard.unlock();
            Finish(0);
            return;
        }
    }
    ThreadState::Adopt(this, m_id);
    DWORD code = m_routine(m_parameter);
    // The thread's windows and timers are gone before a waiter sees the thread signalled, as on Windows.
    winport::user32::EndThreadQueue();
    ThreadState::Adopt(nullptr, m_id);
    Finish(code);
}

void Thread::Finish(DWORD exitCode)
{
    // Counted as ended before anyone waiting for it can see it signalled.
    ThreadReaper::Instance().ThreadEnded();
    std::lock_guard<std::mutex> guard(Dispatcher::Lock());
    m_exitCode = exitCode;
    m_finished = true;
    Dispatcher::SignalLocked(*this);
}

DWORD Thread::Resume()
{
    std::lock_guard<std::mutex> guard(m_startLock);
    DWORD previous = m_suspendCount;
    if (m_suspendCount > 0 && --m_suspendCount == 0)
        m_startCv.notify_all();
    return previous;
}

void Thread::OnLastHandleClosed()
{
    std::lock_guard<std::mutex> guard(m_startLock);
    if (m_suspendCount > 0)
    {
        m_cancelled = true;
        m_startCv.notify_all();
    }
}

DWORD Thread::ExitCode() const
{
    std::lock_guard<std::mutex> guard(Dispatcher::Lock());
    return m_exitCode;
}

} // namespace winport::kernel32
