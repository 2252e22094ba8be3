#include "Clock.h"

#include <ctime>

namespace winport::kernel32
{

namespace
{

uint64_t MonotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

} // namespace

uint64_t Clock::NowMs() const
{
    return MonotonicMs() + m_offsetMs.load(std::memory_order_acquire);
}

void Clock::Advance(uint64_t ms)
{
    m_offsetMs.fetch_add(ms, std::memory_order_acq_rel);
}

uint64_t Clock::StartTickCountAt(uint32_t tick)
{
    uint64_t distance = static_cast<uint32_t>(tick - TickCount());
    Advance(distance);
    return distance;
}

} // namespace winport::kernel32
