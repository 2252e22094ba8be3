#include "ThreadState.h"

#include <atomic>

namespace winport::kernel32
{

namespace
{
thread_local DWORD tlsLastError = 0;
thread_local DWORD tlsThreadId = 0;
thread_local Thread* tlsThread = nullptr;
thread_local int tlsForeignPriority = THREAD_PRIORITY_NORMAL;
} // namespace

DWORD ThreadState::LastError()
{
    return tlsLastError;
}

void ThreadState::SetLastError(DWORD error)
{
    tlsLastError = error;
}

DWORD ThreadState::NewId()
{
    static std::atomic<DWORD> next{0x1000};
    return next.fetch_add(4);
}

DWORD ThreadState::CurrentId()
{
    if (tlsThreadId == 0)
        tlsThreadId = NewId();
    return tlsThreadId;
}

void ThreadState::Adopt(Thread* self, DWORD id)
{
    tlsThread = self;
    tlsThreadId = id;
}

Thread* ThreadState::Current()
{
    return tlsThread;
}

int& ThreadState::ForeignPriority()
{
    return tlsForeignPriority;
}

} // namespace winport::kernel32
