// Events, mutexes and waits: who is woken, what is consumed, what a timeout returns.
#include <windows.h>

#include "WaitUntil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace
{

TEST(Events, ManualResetReleasesEveryWaitUntilReset)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> released{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.emplace_back(
            [&]
            {
                if (WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0)
                    ++released;
            });
    SetEvent(event);
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), 3);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0); // still signalled
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(event);
}

TEST(Events, AutoResetReleasesOneWaitPerSet)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> released{0};
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i)
        waiters.emplace_back(
            [&]
            {
                HANDLE both[2] = {event, stop};
                if (WaitForMultipleObjects(2, both, FALSE, INFINITE) == WAIT_OBJECT_0)
                    ++released;
            });
    SetEvent(event);
    ASSERT_TRUE(WaitUntil([&] { return released.load() == 1; }));
    // The signal was consumed by the one released wait.
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(event);
    ASSERT_TRUE(WaitUntil([&] { return released.load() == 2; }));
    SetEvent(stop);
    for (auto& t : waiters)
        t.join();
    EXPECT_EQ(released.load(), 2);
    CloseHandle(event);
    CloseHandle(stop);
}

TEST(Events, SetBeforeWaitIsNotLost)
{
    HANDLE event = CreateEventW(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(event);
}

TEST(Waits, TimeoutReturnsWaitTimeoutNoEarlierThanAsked)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    CloseHandle(event);
}

TEST(Waits, WaitAnyReportsTheLowestSignalledIndexAndConsumesOnlyIt)
{
    HANDLE events[3];
    for (auto& e : events)
        e = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetEvent(events[2]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    for (auto& e : events)
        CloseHandle(e);
}

TEST(Waits, WaitAllTakesNothingUntilEverythingIsSignalled)
{
    HANDLE events[2] = {CreateEventW(nullptr, FALSE, FALSE, nullptr),
                        CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(2, events, TRUE, 10), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0); // not consumed by the failed wait-all
    SetEvent(events[0]);
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] { result = WaitForMultipleObjects(2, events, TRUE, INFINITE); });
    SetEvent(events[1]);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(events[0], 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(events[1], 0), static_cast<DWORD>(WAIT_TIMEOUT));
    for (auto& e : events)
        CloseHandle(e);
}

TEST(Waits, BadArgumentsFailWithTheRightLastError)
{
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(0, &event, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, event);
    EXPECT_EQ(WaitForMultipleObjects(static_cast<DWORD>(many.size()), many.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HANDLE withBad[2] = {event, reinterpret_cast<HANDLE>(0x7777)};
    EXPECT_EQ(WaitForMultipleObjects(2, withBad, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(event);
}

TEST(Mutexes, OwnerReentersOthersWaitAndOnlyTheOwnerReleases)
{
    HANDLE mutex = CreateMutexW(nullptr, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); // re-entrant: count 2
    DWORD otherResult = 0;
    BOOL otherRelease = TRUE;
    DWORD otherError = 0;
    std::thread other(
        [&]
        {
            otherResult = WaitForSingleObject(mutex, 0);
            otherRelease = ReleaseMutex(mutex);
            otherError = GetLastError();
        });
    other.join();
    EXPECT_EQ(otherResult, static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_FALSE(otherRelease);
    EXPECT_EQ(otherError, static_cast<DWORD>(ERROR_NOT_OWNER));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_FALSE(ReleaseMutex(mutex));
    std::thread taker([&] { otherResult = WaitForSingleObject(mutex, INFINITE); });
    taker.join();
    EXPECT_EQ(otherResult, WAIT_OBJECT_0);
    CloseHandle(mutex);
}

} // namespace

namespace
{

// Two threads hand a turn back and forth through two auto-reset events many times: a lost wake-up
// or a signal consumed twice stops the exchange.
TEST(Events, PingPongLosesNoWakeUp)
{
    HANDLE ping = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE pong = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    constexpr int kRounds = 20000;
    std::atomic<int> failures{0};
    std::thread partner(
        [&]
        {
            for (int i = 0; i < kRounds; ++i)
            {
                if (WaitForSingleObject(ping, 10000) != WAIT_OBJECT_0)
                    ++failures;
                SetEvent(pong);
            }
        });
    for (int i = 0; i < kRounds; ++i)
    {
        SetEvent(ping);
        if (WaitForSingleObject(pong, 10000) != WAIT_OBJECT_0)
            ++failures;
    }
    partner.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(WaitForSingleObject(ping, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(pong, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(ping);
    CloseHandle(pong);
}

} // namespace
