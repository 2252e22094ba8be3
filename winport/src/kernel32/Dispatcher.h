// Waits on kernel objects. One process-wide lock guards every waitable object's state and waiter
// list, so a wait for several objects (all of them or any one) is decided atomically; each waiting
// thread parks on its own futex, so a signal wakes only the threads it satisfies.
#pragma once

#include "KernelObject.h"
#include "Parker.h"

#include <memory>
#include <mutex>
#include <vector>

namespace winport::kernel32
{

struct WaitBlock
{
    KernelObject* const* objects = nullptr;
    size_t count = 0;
    bool waitAll = false;
    DWORD threadId = 0;
    DWORD result = WAIT_TIMEOUT; // written before the parker is unparked
    Parker parker;
};

class Dispatcher
{
public:
    static std::mutex& Lock();

    // Waits as WaitForMultipleObjects does; the caller keeps the objects alive. Returns
    // WAIT_OBJECT_0 + i, WAIT_ABANDONED_0 + i or WAIT_TIMEOUT.
    static DWORD Wait(KernelObject* const* objects, size_t count, bool waitAll, DWORD milliseconds);

    // After a change that may signal obj: satisfies and wakes the waits it completes, oldest first.
    // Dispatcher lock held.
    static void SignalLocked(KernelObject& obj);

private:
    static bool TrySatisfyLocked(WaitBlock& block);
    static void UnlinkLocked(WaitBlock& block);
};

} // namespace winport::kernel32
