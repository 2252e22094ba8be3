#include "Mutex.h"

#include "Dispatcher.h"

namespace winport::kernel32
{

bool Mutex::AcquireLocked(DWORD threadId)
{
    m_owner = threadId;
    ++m_count;
    return false;
}

bool Mutex::Release(DWORD threadId)
{
    std::lock_guard<std::mutex> guard(Dispatcher::Lock());
    if (m_count == 0 || m_owner != threadId)
        return false;
    if (--m_count == 0)
    {
        m_owner = 0;
        Dispatcher::SignalLocked(*this);
    }
    return true;
}

} // namespace winport::kernel32
