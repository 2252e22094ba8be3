// kernel32: timer queues. The default queue (a null TimerQueue) is not provided: calls naming it
// fail with ERROR_INVALID_HANDLE.
#include "HandleTable.h"
#include "ThreadReaper.h"
#include "TimerQueue.h"

#include "src/faults/FaultPlan.h"

using namespace winport::kernel32;
using winport::faults::FaultPlan;
using winport::faults::WinportCall;

namespace
{

bool ParseCompletion(HANDLE handle, Completion& completion)
{
    if (handle == INVALID_HANDLE_VALUE)
        completion = Completion{Completion::Kind::Wait, nullptr};
    else if (handle == nullptr)
        completion = Completion{Completion::Kind::NoWait, nullptr};
    else
    {
        auto event = HandleTable::Instance().LookupAs<Event>(handle);
        if (!event)
            return false;
        completion = Completion{Completion::Kind::SetEvent, event};
    }
    return true;
}

// The timer, if it belongs to queue.
std::shared_ptr<QueueTimer> LookupTimer(const std::shared_ptr<TimerQueue>& queue, HANDLE handle)
{
    auto timer = HandleTable::Instance().LookupAs<QueueTimer>(handle);
    return timer && timer->queue == queue.get() ? timer : nullptr;
}

} // namespace

extern "C" HANDLE WINAPI CreateTimerQueue(void)
{
    if (const DWORD fault = FaultPlan::Instance().Take(WinportCall::CreateTimerQueue))
    {
        SetLastError(fault);
        return nullptr;
    }
    ThreadReaper::Instance().ReapFinished();
    auto queue = std::make_shared<TimerQueue>();
    queue->Start();
    return HandleTable::Instance().Insert(queue);
}

extern "C" BOOL WINAPI CreateTimerQueueTimer(PHANDLE phNewTimer, HANDLE timerQueue,
                                             WAITORTIMERCALLBACK callback, PVOID parameter, DWORD dueTime,
                                             DWORD period, ULONG flags)
{
    if (flags & WT_EXECUTEONLYONCE)
        period = 0;
    auto queue = HandleTable::Instance().LookupAs<winport::kernel32::TimerQueue>(timerQueue);
    if (!queue)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (phNewTimer == nullptr || callback == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (const DWORD fault = FaultPlan::Instance().Take(WinportCall::CreateTimerQueueTimer))
    {
        SetLastError(fault);
        return FALSE;
    }
    auto timer = queue->AddTimer(callback, parameter, dueTime, period);
    timer->handle = HandleTable::Instance().Insert(timer);
    *phNewTimer = timer->handle;
    return TRUE;
}

extern "C" BOOL WINAPI ChangeTimerQueueTimer(HANDLE timerQueue, HANDLE timerHandle, ULONG dueTime,
                                             ULONG period)
{
    auto queue = HandleTable::Instance().LookupAs<winport::kernel32::TimerQueue>(timerQueue);
    auto timer = queue ? LookupTimer(queue, timerHandle) : nullptr;
    if (!timer || !queue->ChangeTimer(*timer, dueTime, period))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI DeleteTimerQueueTimer(HANDLE timerQueue, HANDLE timerHandle, HANDLE completionEvent)
{
    auto queue = HandleTable::Instance().LookupAs<winport::kernel32::TimerQueue>(timerQueue);
    auto timer = queue ? LookupTimer(queue, timerHandle) : nullptr;
    Completion completion;
    if (!timer || !ParseCompletion(completionEvent, completion))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    HandleTable::Instance().Close(timerHandle);
    return queue->DeleteTimer(*timer, completion);
}

extern "C" BOOL WINAPI DeleteTimerQueueEx(HANDLE timerQueue, HANDLE completionEvent)
{
    auto& table = HandleTable::Instance();
    auto queue = table.LookupAs<winport::kernel32::TimerQueue>(timerQueue);
    Completion completion;
    if (!queue || !ParseCompletion(completionEvent, completion))
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    table.Close(timerQueue);
    for (const auto& timer : queue->Timers())
        table.Close(timer->handle);
    return queue->Delete(completion);
}

extern "C" BOOL WINAPI DeleteTimerQueue(HANDLE timerQueue)
{
    return DeleteTimerQueueEx(timerQueue, nullptr);
}
