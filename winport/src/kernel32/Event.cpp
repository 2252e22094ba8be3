#include "Event.h"

#include "Dispatcher.h"

namespace winport::kernel32
{

bool Event::AcquireLocked(DWORD)
{
    if (!m_manualReset)
        m_signaled = false;
    return false;
}

void Event::Set()
{
    std::lock_guard<std::mutex> guard(Dispatcher::Lock());
    m_signaled = true;
    Dispatcher::SignalLocked(*this);
}

void Event::Reset()
{
    std::lock_guard<std::mutex> guard(Dispatcher::Lock());
    m_signaled = false;
}

} // namespace winport::kernel32
