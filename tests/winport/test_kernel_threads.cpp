// CreateThread: suspended start, exit codes, priorities, identity, and no thread left behind.
#include <windows.h>

#include "WaitUntil.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

#include <atomic>

namespace
{

int RunningThreads()
{
    return winport::machine::Machine::Instance().QueryOpenResources().runningThreads;
}

struct Probe
{
    std::atomic<int> runs{0};
    std::atomic<DWORD> id{0};
    HANDLE release = nullptr;
};

DWORD WINAPI Routine(LPVOID parameter)
{
    auto* probe = static_cast<Probe*>(parameter);
    probe->id = GetCurrentThreadId();
    ++probe->runs;
    if (probe->release)
        WaitForSingleObject(probe->release, INFINITE);
    return 42;
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResume)
{
    Probe probe;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, Routine, &probe, CREATE_SUSPENDED, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(probe.runs.load(), 0);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_EQ(ResumeThread(thread), 0u);
    EXPECT_EQ(probe.runs.load(), 1);
    EXPECT_EQ(probe.id.load(), id);
    EXPECT_EQ(GetThreadId(thread), id);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 42u);
    CloseHandle(thread);
    EXPECT_TRUE(WaitUntil([] { return RunningThreads() == 0; }));
}

TEST(Threads, ExitCodeIsStillActiveWhileRunning)
{
    Probe probe;
    probe.release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, Routine, &probe, 0, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return probe.runs.load() == 1; }));
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    SetEvent(probe.release);
    EXPECT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 42u);
    CloseHandle(thread);
    CloseHandle(probe.release);
}

TEST(Threads, PrioritiesAreRecordedAndValidated)
{
    Probe probe;
    HANDLE thread = CreateThread(nullptr, 0, Routine, &probe, CREATE_SUSPENDED, nullptr);
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
    EXPECT_TRUE(SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL));
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_TIME_CRITICAL);
    SetLastError(0);
    EXPECT_FALSE(SetThreadPriority(thread, 7));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(GetThreadPriority(thread), THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_EQ(GetThreadPriority(reinterpret_cast<HANDLE>(0x4444)), THREAD_PRIORITY_ERROR_RETURN);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_HIGHEST);
    ResumeThread(thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

TEST(Threads, ClosingTheHandleLetsTheThreadFinishAndBeJoined)
{
    Probe probe;
    probe.release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, Routine, &probe, 0, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return probe.runs.load() == 1; }));
    CloseHandle(thread);
    EXPECT_EQ(RunningThreads(), 1);
    SetEvent(probe.release);
    EXPECT_TRUE(WaitUntil([] { return RunningThreads() == 0; }));
    CloseHandle(probe.release);
}

TEST(Threads, ClosingASuspendedThreadEndsItUnstarted)
{
    Probe probe;
    HANDLE thread = CreateThread(nullptr, 0, Routine, &probe, CREATE_SUSPENDED, nullptr);
    CloseHandle(thread);
    EXPECT_TRUE(WaitUntil([] { return RunningThreads() == 0; }));
    EXPECT_EQ(probe.runs.load(), 0);
}

TEST(Threads, NullRoutineIsRejected)
{
    SetLastError(0);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

} // namespace
