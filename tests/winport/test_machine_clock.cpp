// The machine clock behind GetTickCount: moved forward by tests, wrapping through 0 at 2^32 ms.
#include <windows.h>

#include "machine/Machine.h"

#include <gtest/gtest.h>

namespace
{

winport::machine::Clock& TheClock()
{
    return winport::machine::Machine::Instance().GetClock();
}

TEST(Clock, AdvanceMovesBothCountsForward)
{
    ULONGLONG before64 = GetTickCount64();
    DWORD before = GetTickCount();
    TheClock().Advance(10000);
    EXPECT_GE(GetTickCount64() - before64, 10000u);
    EXPECT_GE(static_cast<DWORD>(GetTickCount() - before), 10000u);
    EXPECT_LT(static_cast<DWORD>(GetTickCount() - before), 10000u + 60000u);
}

TEST(Clock, StartsNearTheWrapAndIsSteppedOverIt)
{
    const DWORD start = 0xFFFFFFFFu - 60000u; // a minute of real time before the wrap
    TheClock().StartTickCountAt(start);
    DWORD now = GetTickCount();
    ASSERT_GE(now, start);
    ULONGLONG before64 = GetTickCount64();
    TheClock().Advance(120000);
    DWORD wrapped = GetTickCount();
    EXPECT_LT(wrapped, now); // went through 0
    EXPECT_GE(static_cast<DWORD>(wrapped - now), 120000u);
    EXPECT_GT(GetTickCount64(), before64); // the 64-bit count does not wrap
    EXPECT_EQ(static_cast<DWORD>(GetTickCount64()), GetTickCount());
}

TEST(Clock, NeverMovesBackward)
{
    DWORD now = GetTickCount();
    ULONGLONG before64 = GetTickCount64();
    // Asking for a value just behind the current one moves almost a full wrap forward.
    uint64_t moved = TheClock().StartTickCountAt(now - 1000);
    EXPECT_GT(moved, 0xFFFFFFFFull - 100000);
    EXPECT_GE(GetTickCount64(), before64 + moved);
}

} // namespace
