#include "Dispatcher.h"

#include <algorithm>
#include <chrono>

namespace winport::kernel32
{

std::mutex& Dispatcher::Lock()
{
    static std::mutex lock;
    return lock;
}

bool Dispatcher::TrySatisfyLocked(WaitBlock& block)
{
    KernelObject* const* objs = block.objects;
    if (block.waitAll)
    {
        for (size_t i = 0; i < block.count; ++i)
            if (!objs[i]->IsSignaledLocked(block.threadId))
                return false;
        bool abandoned = false;
        for (size_t i = 0; i < block.count; ++i)
            abandoned = objs[i]->AcquireLocked(block.threadId) || abandoned;
        block.result = abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0;
        return true;
    }
    for (size_t i = 0; i < block.count; ++i)
    {
        if (objs[i]->IsSignaledLocked(block.threadId))
        {
            bool abandoned = objs[i]->AcquireLocked(block.threadId);
            block.result = static_cast<DWORD>((abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + i);
            return true;
        }
    }
    return false;
}

void Dispatcher::UnlinkLocked(WaitBlock& block)
{
    for (size_t i = 0; i < block.count; ++i)
    {
        auto& list = block.objects[i]->m_waiters;
        list.erase(std::remove(list.begin(), list.end(), &block), list.end());
    }
}

DWORD Dispatcher::Wait(KernelObject* const* objects, size_t count, bool waitAll, DWORD milliseconds)
{
    WaitBlock block;
    block.objects = objects;
    block.count = count;
    block.waitAll = waitAll;
    block.threadId = GetCurrentThreadId();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    {
        std::lock_guard<std::mutex> guard(Lock());
        if (TrySatisfyLocked(block))
            return block.result;
        if (milliseconds == 0)
            return WAIT_TIMEOUT;
        for (size_t i = 0; i < count; ++i)
            objects[i]->m_waiters.push_back(&block);
    }
    bool woken = true;
    if (milliseconds == INFINITE)
        block.parker.ParkForever();
    else
        woken = block.parker.ParkUntil(deadline);
    if (!woken)
    {
        std::lock_guard<std::mutex> guard(Lock());
        if (!block.parker.IsUnparked())
        {
            UnlinkLocked(block);
            return WAIT_TIMEOUT;
        }
    }
    return block.result;
}

void Dispatcher::SignalLocked(KernelObject& obj)
{
    // Oldest first; a satisfied block unlinks itself from obj's list, so the index stays put then.
    auto& waiters = obj.m_waiters;
    for (size_t i = 0; i < waiters.size();)
    {
        WaitBlock* block = waiters[i];
        if (obj.IsSignaledLocked(block->threadId) && TrySatisfyLocked(*block))
        {
            UnlinkLocked(*block);
            block->parker.Unpark();
        }
        else
        {
            ++i;
        }
    }
}

} // namespace winport::kernel32
