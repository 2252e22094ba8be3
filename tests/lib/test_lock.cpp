// The lock holders of KvCommon: the three kinds the library uses, re-entrancy and timeouts.
#include <gtest/gtest.h>

#include "KvCommon.h"
#include "KvTestSupport.h"

#include <atomic>
#include <functional>
#include <future>
#include <memory>

namespace
{
// Another thread that holds the lock from construction until Release() (or destruction).
class OtherHolder
{
public:
    explicit OtherHolder(KVLOCK* lock)
        : m_thread(
              [this, lock]
              {
                  CLock hold(lock, "Test::Owner", false, true, KV_LOCK_TIMEOUT_MS);
                  m_taken.set_value();
                  m_release.get_future().wait();
              })
    {
        m_taken.get_future().wait();
    }
    ~OtherHolder() { Release(); }
    void Release()
    {
        if (!m_thread.joinable())
            return;
        m_release.set_value();
        m_thread.join();
    }

private:
    std::promise<void> m_taken, m_release;
    std::thread m_thread;
};

class LockTest : public ::testing::Test
{
protected:
    void SetUp() override { CLock::CreateLockPrimitiveEx(&m_lock, "&m_testLock", enLockTypeDefault); }
    void TearDown() override { CLock::DeleteLockPrimitive(&m_lock); }

    // Whether another thread can take the lock right now (one try, no wait).
    bool FreeForOtherThread()
    {
        return std::async(std::launch::async,
                          [this]
                          {
                              CLock probe(&m_lock, "probe", false, false, 0);
                              return probe.Lock("probe", 0) == 0;
                          })
            .get();
    }

    KVLOCK m_lock = nullptr;
};

// Runs the work on a thread of its own and says whether it ended within 10 s; a holder that loops
// without end fails the test instead of hanging it (the stuck thread is left behind).
bool EndsInTime(std::function<void()> work)
{
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> ended = done->get_future();
    std::thread(
        [work, done]
        {
            work();
            done->set_value();
        })
        .detach();
    return ended.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}
} // namespace

TEST_F(LockTest, WaitingHolderHoldsUntilDestroyedAndExcludesOthers)
{
    {
        CLock hold(&m_lock, "Test::Wait", false, true, KV_LOCK_TIMEOUT_MS);
        EXPECT_TRUE(CLock::IsOwnedByCurrentThread(&m_lock));
        EXPECT_FALSE(FreeForOtherThread());
    }
    EXPECT_FALSE(CLock::IsOwnedByCurrentThread(&m_lock));
    EXPECT_TRUE(FreeForOtherThread());
}

TEST_F(LockTest, PrimitiveIsReentrantForItsOwner)
{
    CLock outer(&m_lock, "Test::Outer", false, true, KV_LOCK_TIMEOUT_MS);
    {
        CLock inner(&m_lock, "Test::Inner", false, true, 0);
        EXPECT_EQ(inner.Lock("Test::InnerAgain", 0), 0u);
    }
    // The inner holder released only its own holds.
    EXPECT_TRUE(CLock::IsOwnedByCurrentThread(&m_lock));
    EXPECT_FALSE(FreeForOtherThread());
}

TEST_F(LockTest, TryHolderTakesNothingAtConstructionAndTriesOnce)
{
    CLock tryHold(&m_lock, "Test::Try", false, false, KV_LOCK_TIMEOUT_MS);
    EXPECT_FALSE(CLock::IsOwnedByCurrentThread(&m_lock));

    OtherHolder other(&m_lock);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(tryHold.Lock("Test::Try", 0), 258u); // WAIT_TIMEOUT, at once
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    other.Release();
    EXPECT_EQ(tryHold.Lock("Test::Try", 0), 0u);
    EXPECT_TRUE(CLock::IsOwnedByCurrentThread(&m_lock));
}

TEST_F(LockTest, KeptHoldOutlivesItsHolderUntilAnAdoptingHolderUnlocks)
{
    {
        CLock lend(&m_lock, "Test::Lend", false, true, KV_LOCK_TIMEOUT_MS);
        lend.KeepLockedOnRelease(true);
    }
    EXPECT_TRUE(CLock::IsOwnedByCurrentThread(&m_lock));
    EXPECT_FALSE(FreeForOtherThread());

    CLock giveBack(&m_lock, "Test::GiveBack", true, true, KV_LOCK_TIMEOUT_MS);
    EXPECT_TRUE(CLock::IsOwnedByCurrentThread(&m_lock)); // adopting takes no new hold
    EXPECT_EQ(giveBack.UnLock(), 0u);
    EXPECT_FALSE(CLock::IsOwnedByCurrentThread(&m_lock));
    EXPECT_TRUE(FreeForOtherThread());
    EXPECT_EQ(giveBack.UnLock(), 288u); // ERROR_NOT_OWNER: nothing left to release
}

TEST_F(LockTest, AdoptingHolderReleasesTheKeptHoldWhenDestroyed)
{
    {
        CLock lend(&m_lock, "Test::Lend", false, true, KV_LOCK_TIMEOUT_MS);
        lend.KeepLockedOnRelease(true);
    }
    {
        CLock giveBack(&m_lock, "Test::GiveBack", true, true, KV_LOCK_TIMEOUT_MS);
    }
    EXPECT_TRUE(FreeForOtherThread());
}

TEST_F(LockTest, AdoptingWithoutAKeptHoldReleasesNothingOfAnotherThread)
{
    LogCapture log;
    OtherHolder other(&m_lock);
    {
        CLock stray(&m_lock, "Test::Stray", true, true, KV_LOCK_TIMEOUT_MS);
        EXPECT_EQ(stray.UnLock(), 288u);
    }
    EXPECT_FALSE(FreeForOtherThread());
    other.Release();
    EXPECT_EQ(log.Count(W("CLock: \"Test::Stray\" has no hold to adopt\n")), 1u);
}

TEST_F(LockTest, WaitThatRunsOutIsLoggedAndLeavesTheHolderWithoutTheLock)
{
    LogCapture log;
    OtherHolder other(&m_lock);
    {
        CLock late(&m_lock, "Test::Late", false, true, 50);
        EXPECT_FALSE(CLock::IsOwnedByCurrentThread(&m_lock));
    }
    other.Release();
    EXPECT_EQ(log.Count(W("CLock: \"Test::Late\" gave up waiting for \"&m_testLock\" after 50 ms\n")), 1u);
    EXPECT_TRUE(FreeForOtherThread());
}

TEST_F(LockTest, WaitingHolderGetsTheLockWhenTheOwnerLetsGo)
{
    std::atomic<bool> released{false};
    std::promise<void> taken;
    std::thread owner(
        [&]
        {
            CLock hold(&m_lock, "Test::Owner", false, true, KV_LOCK_TIMEOUT_MS);
            taken.set_value();
            // Lets go only once the waiter waits.
            EXPECT_TRUE(WaitUntil([] { return CLock::WaitingFor("&m_testLock") == 1; }));
            released = true;
        });
    taken.get_future().wait();
    CLock waiter(&m_lock, "Test::Waiter", false, true, KV_LOCK_TIMEOUT_MS);
    EXPECT_TRUE(released);
    EXPECT_TRUE(CLock::IsOwnedByCurrentThread(&m_lock));
    owner.join();
}

TEST_F(LockTest, AdoptingHolderInsideAnOuterHolderTakesNothingAndTheOuterKeepsItsHold)
{
    LogCapture log;
    bool outerHeldAfterInner = false;
    bool freeAfterOuter = false;
    ASSERT_TRUE(EndsInTime(
        [&]
        {
            {
                CLock outer(&m_lock, "Test::Outer", false, true, KV_LOCK_TIMEOUT_MS);
                {
                    CLock unpaired(&m_lock, "Test::Unpaired", true, true, KV_LOCK_TIMEOUT_MS);
                    EXPECT_EQ(unpaired.UnLock(), 288u);
                }
                outerHeldAfterInner = CLock::IsOwnedByCurrentThread(&m_lock);
            }
            freeAfterOuter = !CLock::IsOwnedByCurrentThread(&m_lock);
        }));
    EXPECT_TRUE(outerHeldAfterInner);
    EXPECT_TRUE(freeAfterOuter);
    EXPECT_TRUE(FreeForOtherThread());
    EXPECT_EQ(log.Count(W("CLock: \"Test::Unpaired\" has no hold to adopt\n")), 1u);
}

TEST_F(LockTest, EachKeptHoldIsAdoptedOnceAndOnlyByTheThreadThatKeptIt)
{
    LogCapture log;
    {
        CLock lend(&m_lock, "Test::Lend", false, true, KV_LOCK_TIMEOUT_MS);
        lend.KeepLockedOnRelease(true);
    }
    const bool otherAdopted = std::async(std::launch::async,
                                         [this]
                                         {
                                             CLock stray(&m_lock, "Test::OtherThread", true, true, 0);
                                             return stray.UnLock() == 0;
                                         })
                                  .get();
    EXPECT_FALSE(otherAdopted);
    {
        CLock giveBack(&m_lock, "Test::GiveBack", true, true, KV_LOCK_TIMEOUT_MS);
        CLock again(&m_lock, "Test::Again", true, true, KV_LOCK_TIMEOUT_MS);
        EXPECT_EQ(again.UnLock(), 288u);
        EXPECT_TRUE(CLock::IsOwnedByCurrentThread(&m_lock));
    }
    EXPECT_TRUE(FreeForOtherThread());
    EXPECT_EQ(log.Count(W("CLock: \"Test::OtherThread\" has no hold to adopt\n")), 1u);
    EXPECT_EQ(log.Count(W("CLock: \"Test::Again\" has no hold to adopt\n")), 1u);
}

TEST_F(LockTest, HolderThatCannotReleaseLogsAndStops)
{
    LogCapture log;
    ASSERT_TRUE(EndsInTime(
        [this]
        {
            CLock hold(&m_lock, "Test::Orphan", false, true, KV_LOCK_TIMEOUT_MS);
            CLock::DeleteLockPrimitive(&m_lock);
        }));
    EXPECT_EQ(log.Count(W("CLock: \"&m_testLock\" deleted while held\n")), 1u);
    EXPECT_EQ(log.Count(W("CLock: \"Test::Orphan\" could not release 1 hold(s)\n")), 1u);
}

TEST_F(LockTest, LockHeldByAnotherThreadIsNeverFreedUnderIt)
{
    LogCapture log;
    const ULONG live = CLock::LivePrimitives();
    {
        OtherHolder other(&m_lock);
        CLock::DeleteLockPrimitive(&m_lock);
        EXPECT_EQ(m_lock, nullptr);
        EXPECT_EQ(CLock::LivePrimitives(), live); // still allocated for its holder
    }                                             // the holder's release finds no primitive
    EXPECT_EQ(log.Count(W("CLock: \"&m_testLock\" is held by another thread; left allocated\n")), 1u);
    EXPECT_EQ(log.Count(W("CLock: \"Test::Owner\" could not release 1 hold(s)\n")), 1u);
}
