// kernel32: CreateThread and the thread functions.
#include "HandleTable.h"
#include "Thread.h"
#include "ThreadReaper.h"
#include "ThreadState.h"

#include "src/faults/FaultPlan.h"

using namespace winport::kernel32;

namespace
{

const HANDLE kCurrentThread = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));

bool IsValidPriority(int priority)
{
    return (priority >= THREAD_PRIORITY_LOWEST && priority <= THREAD_PRIORITY_HIGHEST) ||
           priority == THREAD_PRIORITY_TIME_CRITICAL || priority == THREAD_PRIORITY_IDLE;
}

} // namespace

extern "C" HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                                      LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (lpStartAddress == nullptr)
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (const DWORD fault = winport::faults::FaultPlan::Instance().Take(winport::faults::WinportCall::CreateThread))
    {
        SetLastError(fault);
        return nullptr;
    }
    ThreadReaper::Instance().ReapFinished();
    auto thread =
        std::make_shared<Thread>(lpStartAddress, lpParameter, (dwCreationFlags & CREATE_SUSPENDED) != 0);
    HANDLE handle = HandleTable::Instance().Insert(thread);
    if (lpThreadId != nullptr)
        *lpThreadId = thread->Id();
    thread->Launch(thread);
    return handle;
}

extern "C" DWORD WINAPI ResumeThread(HANDLE hThread)
{
    auto thread = HandleTable::Instance().LookupAs<Thread>(hThread);
    if (!thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return static_cast<DWORD>(-1);
    }
    return thread->Resume();
}

extern "C" BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority)
{
    if (!IsValidPriority(nPriority))
    {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (hThread == kCurrentThread)
    {
        if (Thread* self = ThreadState::Current())
            self->SetPriority(nPriority);
        else
            ThreadState::ForeignPriority() = nPriority;
        return TRUE;
    }
    auto thread = HandleTable::Instance().LookupAs<Thread>(hThread);
    if (!thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    thread->SetPriority(nPriority);
    return TRUE;
}

extern "C" int WINAPI GetThreadPriority(HANDLE hThread)
{
    if (hThread == kCurrentThread)
    {
        Thread* self = ThreadState::Current();
        return self ? self->Priority() : ThreadState::ForeignPriority();
    }
    auto thread = HandleTable::Instance().LookupAs<Thread>(hThread);
    if (!thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    return thread->Priority();
}

extern "C" BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    auto thread = HandleTable::Instance().LookupAs<Thread>(hThread);
    if (!thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpExitCode == nullptr)
    {
        SetLastError(ERROR_NOACCESS);
        return FALSE;
    }
    *lpExitCode = thread->ExitCode();
    return TRUE;
}

extern "C" HANDLE WINAPI GetCurrentThread(void)
{
    return kCurrentThread;
}

extern "C" DWORD WINAPI GetCurrentThreadId(void)
{
    return ThreadState::CurrentId();
}

extern "C" DWORD WINAPI GetThreadId(HANDLE threadHandle)
{
    if (threadHandle == kCurrentThread)
        return ThreadState::CurrentId();
    auto thread = HandleTable::Instance().LookupAs<winport::kernel32::Thread>(threadHandle);
    if (!thread)
    {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return thread->Id();
}
