// A dlopen/dlclose cycle of a library that uses threads, timer queues, events and device handles
// leaves nothing behind, and the machine can say what a leaky one left open.
#include <windows.h>

#include "TestDescriptors.h"
#include "WaitUntil.h"
#include "machine/Machine.h"

#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>

using winport::machine::Machine;

namespace
{

using StartFn = void (*)(const char16_t*, bool);
using TicksFn = LONG (*)();

struct Loaded
{
    void* library = nullptr;
    StartFn start = nullptr;
    TicksFn ticks = nullptr;
};

Loaded Load()
{
    Loaded loaded;
    loaded.library = dlopen(WINPORT_UNLOAD_PROBE, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(loaded.library, nullptr) << dlerror();
    if (loaded.library)
    {
        loaded.start = reinterpret_cast<StartFn>(dlsym(loaded.library, "ProbeStart"));
        loaded.ticks = reinterpret_cast<TicksFn>(dlsym(loaded.library, "ProbeTicks"));
    }
    return loaded;
}

bool IsMapped()
{
    return dlopen(WINPORT_UNLOAD_PROBE, RTLD_NOW | RTLD_NOLOAD) != nullptr;
}

std::u16string PlugGamePad()
{
    winport::machine::HidDeviceDescription description;
    description.reportDescriptor = GamePadDescriptor();
    return Machine::Instance().InterfacePaths(Machine::Instance().PlugDevice(description)).at(0);
}

TEST(Unload, ACleanLibraryLeavesNothingOpenOrRunning)
{
    std::u16string path = PlugGamePad();
    auto before = Machine::Instance().QueryOpenResources();
    Loaded loaded = Load();
    ASSERT_NE(loaded.start, nullptr);
    loaded.start(path.c_str(), false);
    ASSERT_TRUE(WaitUntil([&] { return loaded.ticks() >= 2; }));
    auto during = Machine::Instance().QueryOpenResources();
    EXPECT_EQ(during.runningThreads, before.runningThreads + 2); // its thread and its queue's
    EXPECT_EQ(during.handlesByKind["timer queue"], 1);
    EXPECT_EQ(during.handlesByKind["file"], 1);
    ASSERT_EQ(dlclose(loaded.library), 0);
    EXPECT_FALSE(IsMapped());
    auto after = Machine::Instance().QueryOpenResources();
    EXPECT_EQ(after.handlesByKind, before.handlesByKind);
    EXPECT_EQ(after.runningThreads, before.runningThreads);
}

TEST(Unload, ReloadingWorksAgain)
{
    for (int round = 0; round < 3; ++round)
    {
        Loaded loaded = Load();
        ASSERT_NE(loaded.start, nullptr);
        loaded.start(nullptr, false);
        ASSERT_TRUE(WaitUntil([&] { return loaded.ticks() >= 1; }));
        ASSERT_EQ(dlclose(loaded.library), 0);
        EXPECT_EQ(Machine::Instance().QueryOpenResources().runningThreads, 0);
        EXPECT_EQ(Machine::Instance().QueryOpenResources().HandleCount(), 0);
    }
}

TEST(Unload, TheMachineReportsWhatALeakyLibraryLeftOpen)
{
    Loaded loaded = Load();
    ASSERT_NE(loaded.start, nullptr);
    loaded.start(nullptr, true);
    ASSERT_TRUE(WaitUntil([&] { return loaded.ticks() >= 1; }));
    auto during = Machine::Instance().QueryOpenResources();
    // Unloading it now would leave its thread and timer callback pointing into unmapped code.
    EXPECT_EQ(during.handlesByKind["timer queue"], 1);
    EXPECT_EQ(during.handlesByKind["timer-queue timer"], 1);
    EXPECT_EQ(during.handlesByKind["thread"], 1);
    EXPECT_EQ(during.handlesByKind["event"], 1);
    EXPECT_EQ(during.runningThreads, 2);
    reinterpret_cast<void (*)()>(dlsym(loaded.library, "ProbeStop"))();
    EXPECT_EQ(Machine::Instance().QueryOpenResources().HandleCount(), 0);
    EXPECT_EQ(dlclose(loaded.library), 0);
}

} // namespace

namespace
{

VOID CALLBACK Tick(PVOID, BOOLEAN) {}

DWORD WINAPI WaitForever(LPVOID event)
{
    WaitForSingleObject(static_cast<HANDLE>(event), INFINITE);
    return 0;
}

// A process that ends with a timer queue still ticking: winport's teardown stops and joins its
// thread, and the process exits normally.
TEST(ProcessExit, ATimerQueueLeftRunningIsStoppedAtExit)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            HANDLE queue = CreateTimerQueue();
            HANDLE timer = nullptr;
            CreateTimerQueueTimer(&timer, queue, Tick, nullptr, 0, 1, WT_EXECUTEINTIMERTHREAD);
            Sleep(20);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// A thread that never ends is given a bounded time at exit, then reported and left behind.
TEST(ProcessExit, AThreadThatNeverEndsIsReportedAndDoesNotHoldTheExit)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            CreateThread(nullptr, 0, WaitForever, never, 0, nullptr);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "still running at unload");
}

} // namespace
