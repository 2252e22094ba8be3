#include "ThreadReaper.h"

#include <chrono>
#include <cstdio>

namespace winport::kernel32
{

void ThreadReaper::Adopt(std::thread thread, std::shared_ptr<std::atomic<bool>> finished,
                         std::shared_ptr<void> keepAlive)
{
    std::lock_guard<std::mutex> guard(lock_);
    entries_.push_back(Entry{std::move(thread), std::move(finished), std::move(keepAlive)});
}

std::vector<ThreadReaper::Entry> ThreadReaper::TakeFinished()
{
    std::vector<Entry> done;
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = entries_.begin(); it != entries_.end();)
    {
        if (it->finished->load(std::memory_order_acquire) &&
            it->thread.get_id() != std::this_thread::get_id())
        {
            done.push_back(std::move(*it));
            it = entries_.erase(it);
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
    return live_.load();
}

void ThreadReaper::JoinAll(int graceMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    auto unjoined = [this]
    {
        ReapFinished();
        std::lock_guard<std::mutex> guard(lock_);
        return !entries_.empty();
    };
    while (unjoined() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::vector<Entry> stragglers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stragglers.swap(entries_);
    }
    for (Entry& entry : stragglers)
    {
        std::fprintf(stderr, "winport: a thread is still running at unload; detaching it\n");
        entry.thread.detach();
        // Its keep-alive stays referenced: the thread may still use it.
        std::lock_guard<std::mutex> guard(lock_);
        abandoned_.push_back(std::move(entry.keepAlive));
    }
}

} // namespace winport::kernel32
