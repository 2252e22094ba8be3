// Per-thread state of kernel32: last error, thread id, the Thread object of a CreateThread thread.
// Only trivially destructible thread_local variables, so that unloading winport leaves no
// thread-exit destructor pointing into it.
#pragma once

#include <windows.h>

namespace winport::kernel32
{

class Thread;

class ThreadState
{
public:
    static DWORD LastError();
    static void SetLastError(DWORD error);
    // Ids are multiples of 4, never 0, given to a thread on first use.
    static DWORD CurrentId();
    static void Adopt(Thread* self, DWORD id);
    // The Thread object of the calling thread, or null for a thread winport did not start.
    static Thread* Current();
    // The priority of a thread winport did not start, as SetThreadPriority recorded it.
    static int& ForeignPriority();
    static DWORD NewId();
};

} // namespace winport::kernel32
