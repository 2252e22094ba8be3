#include "Mutex.h"

#include "Dispatcher.h"

namespace winport::kernel32
{

bool Mutex::AcquireLocked(DWORD threadId)
{
    owner_ = threadId;
    ++count_;
    return false;
}

bool Mutex::Release(DWORD threadId)
{
    std::lock_guard<std::mutex> guard(Dispatcher::Lock());
    if (count_ == 0 || owner_ != threadId)
        return false;
    if (--count_ == 0)
    {
        owner_ = 0;
        Dispatcher::SignalLocked(*this);
    }
    return true;
}

} // namespace winport::kernel32
