#include "TimerQueue.h"

#include "ThreadReaper.h"
#include "ThreadState.h"

#include <algorithm>
#include <utility>

namespace winport::kernel32
{

using Clock = std::chrono::steady_clock;

TimerQueue::TimerQueue() = default;

TimerQueue::~TimerQueue()
{
    StopAndJoin();
}

void TimerQueue::Start()
{
    std::lock_guard<std::mutex> guard(m_lock);
    ThreadReaper::Instance().ThreadStarted();
    m_thread = std::thread(
        [this]
        {
            Loop();
            ThreadReaper::Instance().ThreadEnded();
            m_finished->store(true, std::memory_order_release);
        });
    m_threadId = m_thread.get_id();
}

void TimerQueue::Loop()
{
    std::unique_lock<std::mutex> guard(m_lock);
    while (!m_stopping)
    {
        QueueTimer* next = NextDueLocked();
        if (next == nullptr)
            m_wake.wait(guard);
        else if (auto due = next->due; due > Clock::now())
            m_wake.wait_until(guard, due); // a copy: the timer may be deleted meanwhile
        else
            RunLocked(guard, *next);
    }
    std::shared_ptr<Event> completion = std::move(m_completion);
    guard.unlock();
    if (completion)
        completion->Set();
}

QueueTimer* TimerQueue::NextDueLocked()
{
    QueueTimer* next = nullptr;
    for (const auto& timer : m_timers)
        if (timer->scheduled && (next == nullptr || timer->due < next->due))
            next = timer.get();
    return next;
}

void TimerQueue::RunLocked(std::unique_lock<std::mutex>& guard, QueueTimer& timer)
{
    // Keeps the timer alive should its callback delete it.
    std::shared_ptr<KernelObject> keep;
    for (const auto& t : m_timers)
        if (t.get() == &timer)
            keep = t;
    ++timer.running;
    if (timer.period.count() > 0)
    {
        auto now = Clock::now();
        timer.due += timer.period;
        if (timer.due <= now)
            timer.due = now + timer.period; // fell behind: skip the missed periods
    }
    else
    {
        timer.scheduled = false;
    }
    guard.unlock();
    timer.callback(timer.parameter, TRUE);
    guard.lock();
    if (--timer.running == 0 && timer.completion)
        std::exchange(timer.completion, nullptr)->Set();
    m_idle.notify_all();
}

std::shared_ptr<QueueTimer> TimerQueue::AddTimer(WAITORTIMERCALLBACK callback, PVOID parameter, DWORD dueMs,
                                                 DWORD periodMs)
{
    auto timer = std::make_shared<QueueTimer>(this, callback, parameter);
    std::lock_guard<std::mutex> guard(m_lock);
    timer->due = Clock::now() + std::chrono::milliseconds(dueMs);
    timer->period = std::chrono::milliseconds(periodMs);
    timer->scheduled = true;
    m_timers.push_back(timer);
    m_wake.notify_one();
    return timer;
}

bool TimerQueue::ChangeTimer(QueueTimer& timer, DWORD dueMs, DWORD periodMs)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (timer.deleted)
        return false;
    timer.due = Clock::now() + std::chrono::milliseconds(dueMs);
    timer.period = std::chrono::milliseconds(periodMs);
    timer.scheduled = true;
    m_wake.notify_one();
    return true;
}

BOOL TimerQueue::DeleteTimer(QueueTimer& timer, const Completion& completion)
{
    std::unique_lock<std::mutex> guard(m_lock);
    timer.deleted = true;
    timer.scheduled = false;
    m_timers.erase(
        std::remove_if(m_timers.begin(), m_timers.end(), [&](const auto& t) { return t.get() == &timer; }),
        m_timers.end());
    m_wake.notify_one();
    if (timer.running == 0)
    {
        guard.unlock();
        if (completion.kind == Completion::Kind::SetEvent)
            completion.event->Set();
        return TRUE;
    }
    // Only one callback runs at a time, on the queue thread: a blocking deletion from that thread is
    // the running callback deleting its own timer, which cannot wait for itself.
    if (completion.kind == Completion::Kind::Wait && !OnQueueThread())
    {
        m_idle.wait(guard, [&] { return timer.running == 0; });
        return TRUE;
    }
    if (completion.kind == Completion::Kind::SetEvent)
        timer.completion = completion.event;
    ThreadState::SetLastError(ERROR_IO_PENDING);
    return FALSE;
}

BOOL TimerQueue::Delete(const Completion& completion)
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
        for (const auto& timer : m_timers)
        {
            timer->deleted = true;
            timer->scheduled = false;
        }
        m_timers.clear();
        if (completion.kind == Completion::Kind::SetEvent)
            m_completion = completion.event;
        thread = std::move(m_thread);
    }
    m_wake.notify_all();
    if (!thread.joinable())
        return TRUE;
    if (completion.kind == Completion::Kind::Wait && !OnQueueThread())
    {
        thread.join();
        return TRUE;
    }
    ThreadReaper::Instance().Adopt(std::move(thread), m_finished, shared_from_this());
    if (completion.kind == Completion::Kind::Wait)
    {
        ThreadState::SetLastError(ERROR_IO_PENDING);
        return FALSE;
    }
    return TRUE;
}

std::vector<std::shared_ptr<QueueTimer>> TimerQueue::Timers()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_timers;
}

void TimerQueue::StopAndJoin()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
        thread = std::move(m_thread);
    }
    m_wake.notify_all();
    if (!thread.joinable())
        return;
    if (thread.get_id() == std::this_thread::get_id())
        thread.detach();
    else
        thread.join();
}

} // namespace winport::kernel32
