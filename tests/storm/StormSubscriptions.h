// What the three-source storm records of the deliveries: every values-callback context the application
// hands out is a Subscription, open until its closing point (the device's removal announced, or the call
// that documents that no delivery follows once it returns). A delivery that starts after that point is
// late: the library delivered for a device after its last delivery. Where the call also waits for a running
// delivery, a delivery still inside the callback when the call has returned is a fault too.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

enum class Source
{
    Physical,
    Filtered,
    Virtual
};

struct Subscription
{
    Subscription(Source source, uint32_t id) : source(source), id(id) {}

    // Called at the start and at the end of every delivery.
    void Enter()
    {
        ++inside;
        if (closed.load(std::memory_order_acquire))
            late.fetch_add(1, std::memory_order_relaxed);
        deliveries.fetch_add(1, std::memory_order_relaxed);
    }
    void Leave() { --inside; }

    // The closing point of a removal, which does not wait for a reader already inside the callback.
    void Close() { closed.store(true, std::memory_order_release); }
    // The closing point of a call that waits for a running delivery before it returns.
    void CloseAfterWait()
    {
        Close();
        if (inside != 0)
            stillInside.fetch_add(1, std::memory_order_relaxed);
    }

    const Source source;
    const uint32_t id;
    std::atomic<bool> closed{false};
    std::atomic<uint64_t> deliveries{0};
    std::atomic<uint64_t> late{0};
    std::atomic<int> inside{0};
    std::atomic<uint64_t> stillInside{0};
};

// Owns every subscription until the end of the test, so a context stays valid whatever the library does with
// it (a deque never moves what it holds).
class StormSubscriptions
{
public:
    Subscription& New(Source source, uint32_t id)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_all.emplace_back(source, id);
    }

    struct Totals
    {
        uint64_t subscriptions = 0;
        uint64_t deliveries = 0;
        uint64_t late = 0;
        uint64_t open = 0;
    };
    Totals Sum(Source source)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        Totals totals;
        for (const Subscription& s : m_all)
            if (s.source == source)
            {
                ++totals.subscriptions;
                totals.deliveries += s.deliveries;
                totals.late += s.late;
                totals.open += !s.closed;
            }
        return totals;
    }
    // One line per subscription that had a late delivery or a delivery its closing call did not wait for.
    std::vector<std::string> LateOnes()
    {
        static const char* const kNames[] = {"physical", "filtered", "virtual"};
        std::lock_guard<std::mutex> guard(m_mutex);
        std::vector<std::string> lines;
        for (const Subscription& s : m_all)
        {
            const std::string device =
                std::string(kNames[static_cast<int>(s.source)]) + " device " + std::to_string(s.id) + ": ";
            if (s.late != 0)
                lines.push_back(device + std::to_string(s.late.load()) + " of " +
                                std::to_string(s.deliveries.load()) + " deliveries after its closing point");
            if (s.stillInside != 0)
                lines.push_back(device + "a delivery still running when its closing call returned");
        }
        return lines;
    }

private:
    std::mutex m_mutex;
    std::deque<Subscription> m_all;
};
