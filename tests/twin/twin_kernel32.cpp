// Twin: kernel32's handle, wait, thread and timer-queue statuses and last errors.
#include <windows.h>

#include "TwinReport.h"

namespace
{

HANDLE gRelease = nullptr;
HANDLE gInside = nullptr;
volatile LONG gRuns = 0;

VOID CALLBACK Blocking(PVOID, BOOLEAN)
{
    InterlockedIncrement(&gRuns);
    SetEvent(gInside);
    WaitForSingleObject(gRelease, INFINITE);
}

DWORD WINAPI Routine(LPVOID parameter)
{
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(parameter));
}

} // namespace

int main()
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Report("CreateEvent", event != nullptr);
    Report("WaitForSingleObject(unset, 10)", WaitForSingleObject(event, 10));
    SetEvent(event);
    Report("WaitForSingleObject(set, 0)", WaitForSingleObject(event, 0));
    SetLastError(0);
    Report("CloseHandle", CloseHandle(event));
    Report("CloseHandle(again)", CloseHandle(event));
    SetLastError(0);
    Report("WaitForSingleObject(closed)", WaitForSingleObject(event, 0));
    HANDLE none[1] = {nullptr};
    SetLastError(0);
    Report("WaitForMultipleObjects(0 handles)", WaitForMultipleObjects(0, none, FALSE, 0));
    SetLastError(0);
    Report("SetEvent(null)", SetEvent(nullptr));

    HANDLE autoReset[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr),
                           CreateEventW(nullptr, FALSE, TRUE, nullptr)};
    SetEvent(autoReset[0]);
    Report("WaitForMultipleObjects(any)", WaitForMultipleObjects(2, autoReset, FALSE, 0));
    Report("WaitForMultipleObjects(any, again)", WaitForMultipleObjects(2, autoReset, FALSE, 0));
    Report("WaitForMultipleObjects(all, one left)", WaitForMultipleObjects(2, autoReset, TRUE, 0));

    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, Routine, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(42)),
                                 CREATE_SUSPENDED, &id);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    Report("exit code while suspended", code);
    Report("SetThreadPriority(TIME_CRITICAL)", SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL));
    Report("GetThreadPriority", static_cast<unsigned long>(GetThreadPriority(thread)));
    SetLastError(0);
    Report("SetThreadPriority(7)", SetThreadPriority(thread, 7));
    Report("ResumeThread", ResumeThread(thread));
    Report("WaitForSingleObject(thread)", WaitForSingleObject(thread, 5000));
    GetExitCodeThread(thread, &code);
    Report("exit code", code);
    Report("ResumeThread(ended)", ResumeThread(thread));
    Note("thread id matches", GetThreadId(thread) == id);
    CloseHandle(thread);

    gRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gInside = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE queue = CreateTimerQueue();
    HANDLE timer = nullptr;
    Report("CreateTimerQueueTimer",
           CreateTimerQueueTimer(&timer, queue, Blocking, nullptr, 0, 0, WT_EXECUTEINTIMERTHREAD));
    Report("callback entered", WaitForSingleObject(gInside, 5000));
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetLastError(0);
    Report("DeleteTimerQueueTimer(running, event)", DeleteTimerQueueTimer(queue, timer, done));
    Report("completion event before the callback returns", WaitForSingleObject(done, 0));
    SetEvent(gRelease);
    Report("completion event after", WaitForSingleObject(done, 5000));
    SetLastError(0);
    Report("DeleteTimerQueueEx(wait)", DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
    Report("callback runs", static_cast<unsigned long>(gRuns));
    CloseHandle(done);
    CloseHandle(gRelease);
    CloseHandle(gInside);
    CloseHandle(autoReset[0]);
    CloseHandle(autoReset[1]);
    return 0;
}
