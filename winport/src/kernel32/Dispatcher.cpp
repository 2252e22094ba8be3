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
    const auto& objs = block.objects;
    if (block.waitAll)
    {
        for (KernelObject* obj : objs)
            if (!obj->IsSignaledLocked(block.threadId))
                return false;
        bool abandoned = false;
        for (KernelObject* obj : objs)
            abandoned = obj->AcquireLocked(block.threadId) || abandoned;
        block.result = abandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0;
        return true;
    }
    for (size_t i = 0; i < objs.size(); ++i)
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
    for (KernelObject* obj : block.objects)
    {
        auto& list = obj->waiters_;
        list.erase(std::remove(list.begin(), list.end(), &block), list.end());
    }
}

DWORD Dispatcher::Wait(const std::vector<std::shared_ptr<KernelObject>>& objects, bool waitAll,
                       DWORD milliseconds)
{
    WaitBlock block;
    block.waitAll = waitAll;
    block.threadId = GetCurrentThreadId();
    for (const auto& obj : objects)
        block.objects.push_back(obj.get());
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    {
        std::lock_guard<std::mutex> guard(Lock());
        if (TrySatisfyLocked(block))
            return block.result;
        if (milliseconds == 0)
            return WAIT_TIMEOUT;
        for (KernelObject* obj : block.objects)
            obj->waiters_.push_back(&block);
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
    auto& waiters = obj.waiters_;
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
