// Ends the process with a clear message when the storm does not finish within its bound, rather than
// leaving ctest to kill a hung test at its own timeout with nothing said.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

class StormWatchdog
{
public:
    explicit StormWatchdog(std::chrono::seconds bound) : m_thread([this, bound] { Watch(bound); }) {}
    ~StormWatchdog()
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_done = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }

    // What the storm is doing now, named in the message if the bound passes.
    void Phase(const char* phase) { m_phase.store(phase); }

private:
    void Watch(std::chrono::seconds bound)
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        if (m_changed.wait_for(guard, bound, [this] { return m_done; }))
            return;
        std::fprintf(stderr,
                     "storm watchdog: not finished after %lld s, still at \"%s\": a deadlock or a hang\n",
                     static_cast<long long>(bound.count()), m_phase.load());
        std::fflush(stderr);
        std::abort();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_done = false;
    std::atomic<const char*> m_phase{"starting"};
    std::thread m_thread;
};
