#include "ThreadReaper.h"

#include <chrono>
#include <cstdio>

namespace winport::kernel32
{

void ThreadReaper::Adopt(std::thread thread, std::shared_ptr<std::atomic<bool>> finished,
                         std::shared_ptr<void> keepAlive)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_entries.push_back(Entry{std::move(thread), std::move(finished), std::move(keepAlive)});
}

std::vector<ThreadReaper::Entry> ThreadReaper::TakeFinished()
{
    std::vector<Entry> done;
    std::lock_guard<std::mutex> guard(m_lock);
    for (auto it = m_entries.begin(); it != m_entries.end();)
    {
        if (it->finished->load(std::memory_order_acquire) &&
            it->thread.get_id() != std::this_thread::get_id())
        {
            done.push_back(std::move(*it));
            it = m_entries.erase(it);
        }
        else
        {
            ++it;
        }
    }
    return done;
}

void ThreadReaper::ReapFinished()
{
    // Joined and released outside the lock: a keep-alive's destructor may come back here.
    for (Entry& entry : TakeFinished())
        entry.thread.join();
}

int ThreadReaper::RunningCount()
{
    ReapFinished();
    return m_live.load();
}

void ThreadReaper::JoinAll(int graceMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    auto unjoined = [this]
    {
        ReapFinished();
        std::lock_guard<std::mutex> guard(m_lock);
        return !m_entries.empty();
    };
    while (unjoined() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<Entry> stragglers;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        stragglers.swap(m_entries);
    }
    for (Entry& entry : stragglers)
    {
        std::fprintf(stderr, "winport: a thread is still running at unload; detaching it\n");
        entry.thread.detach();
        // Its keep-alive stays referenced: the thread may still use it.
        std::lock_guard<std::mutex> guard(m_lock);
        m_abandoned.push_back(std::move(entry.keepAlive));
    }
}

} // namespace winport::kernel32
