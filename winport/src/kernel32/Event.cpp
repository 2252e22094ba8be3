#include "Event.h"

#include "Dispatcher.h"

namespace winport::kernel32
{

bool Event::AcquireLocked(DWORD)
{
    if (!manualReset_)
        signaled_ = false;
    return false;
}

void Event::Set()
{
    std::lock_guard<std::mutex> guard(Dispatcher::Lock());
    signaled_ = true;
    Dispatcher::SignalLocked(*this);
}

void Event::Reset()
{
    std::lock_guard<std::mutex> guard(Dispatcher::Lock());
    signaled_ = false;
}

} // namespace winport::kernel32
