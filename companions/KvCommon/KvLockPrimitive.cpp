#include "KvLockPrimitive.h"

#include <chrono>

bool KvLockPrimitive::Acquire(DWORD timeoutMs)
{
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(m_mutex);
    if (m_count != 0 && m_owner == self)
    {
        ++m_count;
        return true;
    }
    ++m_waiting;
    const bool free =
        m_released.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return m_count == 0; });
    --m_waiting;
    if (!free)
        return false;
    m_owner = self;
    m_count = 1;
    return true;
}

bool KvLockPrimitive::Release()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_count == 0 || m_owner != std::this_thread::get_id())
        return false;
    if (--m_count == 0)
    {
        m_owner = std::thread::id();
        m_released.notify_one();
    }
    return true;
}

bool KvLockPrimitive::OwnedByCurrentThread()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_count != 0 && m_owner == std::this_thread::get_id();
}

bool KvLockPrimitive::OwnedByOtherThread()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_count != 0 && m_owner != std::this_thread::get_id();
}

void KvLockPrimitive::Keep(unsigned holds)
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_count != 0 && m_owner == std::this_thread::get_id())
        m_kept += holds;
}

bool KvLockPrimitive::AdoptKept()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_kept == 0 || m_owner != std::this_thread::get_id())
        return false;
    --m_kept;
    return true;
}

unsigned KvLockPrimitive::Waiting()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_waiting;
}
