// Timer queues: callbacks on the queue's own thread, and deletion that waits (or refuses to wait)
// for running callbacks and leaves no thread behind.
#include <windows.h>

#include "WaitUntil.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace
{

int RunningThreads()
{
    return winport::machine::Machine::Instance().QueryOpenResources().runningThreads;
}
// Timer queues and timers still open.
int OpenTimerHandles()
{
    auto open = winport::machine::Machine::Instance().QueryOpenResources().handlesByKind;
    return open["timer queue"] + open["timer-queue timer"];
}

// A callback that records its runs and, when asked, blocks until released.
struct Gate
{
    std::atomic<int> runs{0};
    std::atomic<bool> inside{false};
    std::atomic<bool> finished{false};
    std::atomic<DWORD> thread{0};
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool block = false;
    ~Gate() { CloseHandle(release); }
};

VOID CALLBACK GateCallback(PVOID parameter, BOOLEAN fired)
{
    auto* gate = static_cast<Gate*>(parameter);
    EXPECT_TRUE(fired);
    gate->thread = GetCurrentThreadId();
    gate->inside = true;
    ++gate->runs;
    if (gate->block)
        WaitForSingleObject(gate->release, INFINITE);
    gate->inside = false;
    gate->finished = true;
}

// Starts a repeating timer on a new queue and returns once its callback is blocked in the gate.
void StartBlockedTimer(Gate& gate, HANDLE& queue, HANDLE& timer)
{
    gate.block = true;
    queue = CreateTimerQueue();
    timer = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&timer, queue, GateCallback, &gate, 0, 1000, WT_EXECUTEINTIMERTHREAD));
    ASSERT_TRUE(WaitUntil([&] { return gate.inside.load(); }));
}

TEST(TimerQueues, PeriodicTimerFiresRepeatedlyOnTheQueueThread)
{
    Gate gate;
    HANDLE queue = CreateTimerQueue();
    HANDLE timer = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&timer, queue, GateCallback, &gate, 0, 5, WT_EXECUTEINTIMERTHREAD));
    ASSERT_TRUE(WaitUntil([&] { return gate.runs.load() >= 3; }));
    EXPECT_NE(gate.thread.load(), GetCurrentThreadId());
    EXPECT_TRUE(DeleteTimerQueueTimer(queue, timer, INVALID_HANDLE_VALUE));
    int after = gate.runs.load();
    EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
    EXPECT_EQ(gate.runs.load(), after);
    EXPECT_EQ(RunningThreads(), 0);
    EXPECT_EQ(OpenTimerHandles(), 0);
}

TEST(TimerQueues, OneShotTimerFiresOnce)
{
    Gate gate;
    HANDLE queue = CreateTimerQueue();
    HANDLE timer = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&timer, queue, GateCallback, &gate, 1, 0, WT_EXECUTEINTIMERTHREAD));
    ASSERT_TRUE(WaitUntil([&] { return gate.finished.load(); }));
    // A second run would come at once if the one-shot timer were rescheduled.
    EXPECT_EQ(WaitForSingleObject(gate.release, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(gate.runs.load(), 1);
    EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
}

TEST(TimerQueues, ExecuteOnlyOnceIgnoresThePeriod)
{
    Gate gate;
    HANDLE queue = CreateTimerQueue();
    HANDLE timer = nullptr;
    ASSERT_TRUE(CreateTimerQueueTimer(&timer, queue, GateCallback, &gate, 0, 1,
                                      WT_EXECUTEINTIMERTHREAD | WT_EXECUTEONLYONCE));
    ASSERT_TRUE(WaitUntil([&] { return gate.finished.load(); }));
    EXPECT_EQ(WaitForSingleObject(gate.release, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(gate.runs.load(), 1);
    EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
}

TEST(TimerQueues, BlockingTimerDeletionWaitsForTheRunningCallback)
{
    Gate gate;
    HANDLE queue = nullptr, timer = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartBlockedTimer(gate, queue, timer));
    std::atomic<bool> returned{false};
    std::atomic<bool> finishedWhenReturned{false};
    std::thread deleter(
        [&]
        {
            EXPECT_TRUE(DeleteTimerQueueTimer(queue, timer, INVALID_HANDLE_VALUE));
            finishedWhenReturned = gate.finished.load();
            returned = true;
        });
    EXPECT_FALSE(WaitUntil([&] { return returned.load(); }, std::chrono::milliseconds(100)));
    SetEvent(gate.release);
    deleter.join();
    EXPECT_TRUE(finishedWhenReturned.load());
    EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
}

TEST(TimerQueues, NonBlockingDeletionOfARunningTimerReportsIoPending)
{
    Gate gate;
    HANDLE queue = nullptr, timer = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartBlockedTimer(gate, queue, timer));
    SetLastError(0);
    EXPECT_FALSE(DeleteTimerQueueTimer(queue, timer, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    SetEvent(gate.release);
    EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
    EXPECT_TRUE(gate.finished.load());
}

TEST(TimerQueues, CompletionEventIsSetWhenTheRunningCallbackReturns)
{
    Gate gate;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE queue = nullptr, timer = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartBlockedTimer(gate, queue, timer));
    EXPECT_FALSE(DeleteTimerQueueTimer(queue, timer, done));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(WaitForSingleObject(done, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    SetEvent(gate.release);
    EXPECT_EQ(WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(gate.finished.load());
    EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
    CloseHandle(done);
}

struct SelfDelete
{
    HANDLE queue = nullptr;
    HANDLE timer = nullptr;
    bool deleteQueue = false;
    HANDLE armed = CreateEventW(nullptr, TRUE, FALSE, nullptr); // set once timer holds the handle
    std::atomic<int> runs{0};
    std::atomic<BOOL> result{TRUE};
    std::atomic<DWORD> error{0};
    std::atomic<bool> done{false};
    ~SelfDelete() { CloseHandle(armed); }
};

VOID CALLBACK SelfDeleteCallback(PVOID parameter, BOOLEAN)
{
    auto* self = static_cast<SelfDelete*>(parameter);
    if (++self->runs > 1)
        return;
    WaitForSingleObject(self->armed, INFINITE);
    SetLastError(0);
    self->result = self->deleteQueue ? DeleteTimerQueueEx(self->queue, INVALID_HANDLE_VALUE)
                                     : DeleteTimerQueueTimer(self->queue, self->timer, INVALID_HANDLE_VALUE);
    self->error = GetLastError();
    self->done = true;
}

TEST(TimerQueues, BlockingDeletionFromItsOwnCallbackDoesNotDeadlock)
{
    SelfDelete self;
    self.queue = CreateTimerQueue();
    ASSERT_TRUE(CreateTimerQueueTimer(&self.timer, self.queue, SelfDeleteCallback, &self, 0, 5,
                                      WT_EXECUTEINTIMERTHREAD));
    SetEvent(self.armed);
    ASSERT_TRUE(WaitUntil([&] { return self.done.load(); }));
    EXPECT_FALSE(self.result.load());
    EXPECT_EQ(self.error.load(), static_cast<DWORD>(ERROR_IO_PENDING));
    // The timer is gone: it does not fire again.
    EXPECT_TRUE(DeleteTimerQueueEx(self.queue, INVALID_HANDLE_VALUE));
    EXPECT_EQ(self.runs.load(), 1);
}

TEST(TimerQueues, QueueDeletedFromItsOwnCallbackEndsItsThreadAfterwards)
{
    SelfDelete self;
    self.deleteQueue = true;
    self.queue = CreateTimerQueue();
    ASSERT_TRUE(CreateTimerQueueTimer(&self.timer, self.queue, SelfDeleteCallback, &self, 0, 5,
                                      WT_EXECUTEINTIMERTHREAD));
    SetEvent(self.armed);
    ASSERT_TRUE(WaitUntil([&] { return self.done.load(); }));
    EXPECT_FALSE(self.result.load());
    EXPECT_EQ(self.error.load(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_TRUE(WaitUntil([] { return RunningThreads() == 0; }));
    EXPECT_EQ(OpenTimerHandles(), 0);
    EXPECT_EQ(self.runs.load(), 1);
}

TEST(TimerQueues, QueueDeletionWaitsForRunningCallbacksAndRetiresHandles)
{
    Gate gate;
    HANDLE queue = nullptr, timer = nullptr;
    ASSERT_NO_FATAL_FAILURE(StartBlockedTimer(gate, queue, timer));
    std::atomic<bool> returned{false};
    std::thread deleter(
        [&]
        {
            EXPECT_TRUE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
            returned = true;
        });
    EXPECT_FALSE(WaitUntil([&] { return returned.load(); }, std::chrono::milliseconds(100)));
    SetEvent(gate.release);
    deleter.join();
    EXPECT_TRUE(gate.finished.load());
    EXPECT_EQ(RunningThreads(), 0);
    SetLastError(0);
    EXPECT_FALSE(DeleteTimerQueueTimer(queue, timer, INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(TimerQueues, TimerOfAnotherQueueIsRejected)
{
    Gate gate;
    HANDLE first = CreateTimerQueue();
    HANDLE second = CreateTimerQueue();
    HANDLE timer = nullptr;
    ASSERT_TRUE(
        CreateTimerQueueTimer(&timer, first, GateCallback, &gate, 100000, 0, WT_EXECUTEINTIMERTHREAD));
    EXPECT_FALSE(DeleteTimerQueueTimer(second, timer, INVALID_HANDLE_VALUE));
    EXPECT_TRUE(DeleteTimerQueueTimer(first, timer, INVALID_HANDLE_VALUE));
    EXPECT_TRUE(DeleteTimerQueueEx(first, INVALID_HANDLE_VALUE));
    EXPECT_TRUE(DeleteTimerQueueEx(second, nullptr));
    EXPECT_TRUE(WaitUntil([] { return RunningThreads() == 0; }));
}

} // namespace
