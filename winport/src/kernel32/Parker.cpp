#include "Parker.h"

#include <cerrno>
#include <ctime>
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace winport::kernel32
{

namespace
{

void FutexWait(std::atomic<int>* word, const timespec* relative)
{
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, 0, relative, nullptr, 0);
}

} // namespace

bool Parker::ParkUntil(std::chrono::steady_clock::time_point deadline)
{
    while (!IsUnparked())
    {
        auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            return IsUnparked();
        auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        timespec relative{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        FutexWait(&m_state, &relative);
    }
    return true;
}

void Parker::ParkForever()
{
    while (!IsUnparked())
        FutexWait(&m_state, nullptr);
}

void Parker::Unpark()
{
    m_state.store(1, std::memory_order_release);
    syscall(SYS_futex, reinterpret_cast<int*>(&m_state), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

} // namespace winport::kernel32
