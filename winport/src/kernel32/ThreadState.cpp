#include "ThreadState.h"

#include <atomic>

namespace winport::kernel32
{

namespace
{
thread_local DWORD t_lastError = 0;
thread_local DWORD t_threadId = 0;
thread_local Thread* t_thread = nullptr;
thread_local int t_foreignPriority = THREAD_PRIORITY_NORMAL;
} // namespace

DWORD ThreadState::LastError()
{
    return t_lastError;
}

void ThreadState::SetLastError(DWORD error)
{
    t_lastError = error;
}

DWORD ThreadState::NewId()
{
    static std::atomic<DWORD> next{0x1000};
    return next.fetch_add(4);
}

DWORD ThreadState::CurrentId()
{
    if (t_threadId == 0)
        t_threadId = NewId();
    return t_threadId;
}

void ThreadState::Adopt(Thread* self, DWORD id)
{
    t_thread = self;
    t_threadId = id;
}

Thread* ThreadState::Current()
{
    return t_thread;
}

int& ThreadState::ForeignPriority()
{
    return t_foreignPriority;
}

} // namespace winport::kernel32
