// The machine's clock: what GetTickCount and GetTickCount64 read.
//
// It is the system's monotonic milliseconds plus an offset that only grows, so it never runs
// backward. Tests move it forward (Advance) or start it just before the 32-bit wrap (StartTickCountAt)
// to cover long waits and the wrap in one step; timers, timer queues and wait timeouts keep running
// on real time. Thread-safe.
#pragma once

#include <atomic>
#include <cstdint>

namespace winport::kernel32
{

class Clock
{
public:
    // The process's clock, one of winport's process-wide objects (ProcessGlobals.cpp).
    static Clock& Instance();

    // Milliseconds since the machine started, plus every move forward: GetTickCount64.
    uint64_t NowMs() const;
    // The low 32 bits, which wrap through 0 every 2^32 ms: GetTickCount.
    uint32_t TickCount() const { return static_cast<uint32_t>(NowMs()); }

    void Advance(uint64_t ms);
    // Moves the clock forward by the least amount that makes TickCount() read tick now (so the
    // 64-bit count keeps growing). Returns the distance moved, in ms.
    uint64_t StartTickCountAt(uint32_t tick);

private:
    std::atomic<uint64_t> m_offsetMs{0};
};

} // namespace winport::kernel32
