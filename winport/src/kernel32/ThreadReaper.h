// Joins the threads winport starts (CreateThread threads, timer-queue threads) once they have
// finished, so none is left running or unjoined. A thread is handed over with a flag that its body
// sets as its very last step; joining such a thread never blocks for long.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace winport::kernel32
{

class ThreadReaper
{
public:
    static ThreadReaper& Instance();

    // keepAlive is released, on the joining thread, after the join.
    void Adopt(std::thread thread, std::shared_ptr<std::atomic<bool>> finished,
               std::shared_ptr<void> keepAlive = nullptr);
    // Joins the adopted threads that have finished.
    void ReapFinished();
    // Every thread winport starts calls these first and last thing in its body.
    void ThreadStarted() { m_live.fetch_add(1); }
    void ThreadEnded() { m_live.fetch_sub(1); }
    // Threads winport started whose body has not ended (the finished ones are reaped first).
    int RunningCount();
    // At unload: joins every thread, giving each unfinished one up to graceMs to end; one that does
    // not is detached and reported on stderr.
    void JoinAll(int graceMs);

private:
    struct Entry
    {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> finished;
        std::shared_ptr<void> keepAlive;
    };
    std::vector<Entry> TakeFinished();

    std::atomic<int> m_live{0};
    std::mutex m_lock;
    std::vector<Entry> m_entries;
    std::vector<std::shared_ptr<void>> m_abandoned;
};

} // namespace winport::kernel32
