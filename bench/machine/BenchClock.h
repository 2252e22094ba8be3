// Time and CPU readings for the machine benchmark.
#pragma once

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <sys/resource.h>
#include <vector>

inline int64_t NowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// User plus system CPU time of the whole process (every thread), in ns.
inline int64_t ProcessCpuNs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ns = [](const timeval& t) { return int64_t(t.tv_sec) * 1000000000 + int64_t(t.tv_usec) * 1000; };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

inline void SleepUntilNs(int64_t deadline)
{
    timespec t{static_cast<time_t>(deadline / 1000000000), static_cast<long>(deadline % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) != 0)
    {
    }
}

inline double MedianUs(std::vector<int64_t> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples.empty() ? 0.0 : samples[samples.size() / 2] / 1000.0;
}

// One figure of a run.
struct LoadResult
{
    uint64_t deliveries = 0;
    double cpuNsPerDelivery = 0;
};

// A reader that is parked before each send: the sender waits this long after the reader says it is
// about to wait, in both the floor and the machine runs.
constexpr int64_t kParkDelayNs = 300000;
