// Handles and last errors: which calls fail, how, and what they leave in GetLastError.
#include <windows.h>

#include "machine/Machine.h"

#include <gtest/gtest.h>

#include <thread>

namespace
{

int OpenHandles()
{
    return winport::machine::Machine::Instance().QueryOpenResources().HandleCount();
}

TEST(Handles, ClosingTwiceFailsWithInvalidHandle)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(OpenHandles(), 0);
}

TEST(Handles, StaleHandleIsNeverReused)
{
    HANDLE first = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    CloseHandle(first);
    HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(second);
}

TEST(Handles, LastErrorIsPerThread)
{
    SetLastError(1234);
    DWORD seenByOther = 0;
    std::thread other(
        [&]
        {
            SetLastError(99);
            seenByOther = GetLastError();
        });
    other.join();
    EXPECT_EQ(seenByOther, 99u);
    EXPECT_EQ(GetLastError(), 1234u);
}

TEST(Handles, SuccessfulCreateClearsLastErrorAndOtherSuccessesKeepIt)
{
    SetLastError(ERROR_GEN_FAILURE);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE));
    CloseHandle(event);
}

TEST(Handles, DuplicateKeepsTheObjectUntilEveryHandleIsClosed)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE copy = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE,
                                DUPLICATE_SAME_ACCESS));
    ASSERT_NE(copy, event);
    CloseHandle(event);
    EXPECT_TRUE(SetEvent(copy));
    EXPECT_EQ(WaitForSingleObject(copy, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(copy));
    EXPECT_EQ(OpenHandles(), 0);
}

TEST(Handles, WrongKindOfHandleIsRejected)
{
    HANDLE queue = CreateTimerQueue();
    ASSERT_NE(queue, nullptr);
    SetLastError(0);
    EXPECT_FALSE(SetEvent(queue));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(queue, 0), WAIT_FAILED);
    // Only DeleteTimerQueueEx deletes a timer queue.
    EXPECT_FALSE(CloseHandle(queue));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
}

TEST(Handles, PseudoHandlesCloseAsNoOps)
{
    EXPECT_TRUE(CloseHandle(GetCurrentThread()));
    EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
    EXPECT_EQ(GetThreadId(GetCurrentThread()), GetCurrentThreadId());
}

TEST(Modules, NamesResolveToLoadedObjectsAndUnknownNamesFail)
{
    EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
    HMODULE winport = GetModuleHandleW(u"WINPORT.DLL");
    EXPECT_NE(winport, nullptr);
    EXPECT_EQ(GetModuleHandleW(u"winport"), winport);
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleW(u"NoSuchModule.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(DebugOutput, TextReachesTheMachineSink)
{
    std::u16string seen;
    winport::machine::Machine::Instance().SetDebugOutputSink([&](const char16_t* text) { seen += text; });
    OutputDebugStringW(u"line one\n");
    OutputDebugStringA("line two\n");
    EXPECT_EQ(seen, u"line one\nline two\n");
    winport::machine::Machine::Instance().SetDebugOutputSink(nullptr);
}

TEST(Interlocked, OperationsReturnWhatWindowsReturns)
{
    volatile LONG value = 5;
    EXPECT_EQ(InterlockedIncrement(&value), 6);
    EXPECT_EQ(InterlockedDecrement(&value), 5);
    EXPECT_EQ(InterlockedExchange(&value, 9), 5);
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 8), 9); // no match: unchanged
    EXPECT_EQ(InterlockedCompareExchange(&value, 1, 9), 9);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(InterlockedExchangeAdd(&value, 4), 1);
    EXPECT_EQ(value, 5);
}

} // namespace
