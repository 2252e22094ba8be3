// A one-shot wake-up for one waiting thread, built directly on a futex so that a wake costs one
// system call and the woken thread takes no lock on its way out.
#pragma once

#include <atomic>
#include <chrono>

namespace winport::kernel32
{

class Parker
{
public:
    // Returns true once Unpark has been called, false when the deadline passed first.
    bool ParkUntil(std::chrono::steady_clock::time_point deadline);
    void ParkForever();
    // Release-stores the wake, then wakes the parked thread. The parker may be gone by the time the
    // futex call is made; a futex wake only uses the address as a key.
    void Unpark();
    bool IsUnparked() const { return m_state.load(std::memory_order_acquire) != 0; }

private:
    std::atomic<int> m_state{0};
};

} // namespace winport::kernel32
