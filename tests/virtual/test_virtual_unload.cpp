// Unloading the library while the virtual devices poll, without a stop: the unload ends the timers, waits
// for a running tick and leaves no queue, timer, DirectInput object or thread behind.
#include <gtest/gtest.h>

#include "VirtualTestSupport.h"

#include <dinput.h>
#include <dlfcn.h>

#include <atomic>
#include <thread>

namespace machine = winport::machine;

namespace
{
typedef uint32_t(KVHR_CALL* StatusFn)();
typedef uint32_t(KVHR_CALL* PollingFn)(uint32_t, uint8_t);
typedef uint32_t(KVHR_CALL* SetCallbackFn)(uint32_t, ReadDeviceValuesCallback, void*);

template <typename F> F Export(void* library, const char* name)
{
    return reinterpret_cast<F>(dlsym(library, name));
}

// Holds its first delivery until released.
struct HeldTick
{
    std::atomic<int> calls{0};
    std::atomic<bool> release{false};
    std::atomic<bool> returned{false};
    static void KVHR_CALL Callback(void* context, const _stHidValue*, uint32_t)
    {
        HeldTick* self = static_cast<HeldTick*>(context);
        if (self->calls++ != 0)
            return;
        WaitUntil([&] { return self->release.load(); });
        self->returned = true;
    }
};
} // namespace

TEST(VirtualUnloadTest, UnloadingWhilePollingWaitsForTheRunningTickAndLeavesNothing)
{
    const int threadsBefore = machine::Machine::Instance().QueryOpenResources().runningThreads;
    void* library = dlopen(KVHIDRAW_SO_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    ASSERT_EQ(Export<StatusFn>(library, "KvHRInitialize")(), 0u);
    ValueRecorder mouse;
    HeldTick held;
    auto setCallback = Export<SetCallbackFn>(library, "KvHRSetReadDeviceValuesCallback");
    auto setPolling = Export<PollingFn>(library, "KvHRSetPolling");
    ASSERT_EQ(setCallback(VIRTUAL_MOUSE_ID, &ValueRecorder::Callback, &mouse), 0u);
    ASSERT_EQ(setCallback(VIRTUAL_KEYBOARD_ID, &HeldTick::Callback, &held), 0u);
    ASSERT_EQ(setPolling(VIRTUAL_MOUSE_ID, 1), 0u);
    ASSERT_EQ(setPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    // One event only: a second one in the same tick would be delivered or dropped depending on whether the
    // release below comes before or after the unload has begun.
    ASSERT_TRUE(machine::PressKey(DIK_A));
    ASSERT_TRUE(WaitUntil([&] { return held.calls == 1; }));

    std::thread releaser(
        [&]
        {
            std::this_thread::yield();
            held.release = true;
        });
    EXPECT_EQ(dlclose(library), 0);
    EXPECT_TRUE(held.returned); // the unload waited for the tick, which ran library code after the call
    releaser.join();
    EXPECT_EQ(dlopen(KVHIDRAW_SO_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);

    EXPECT_EQ(held.calls, 1);
    EXPECT_EQ(PollTimers(), 0);
    EXPECT_EQ(TimerQueues(), 0);
    EXPECT_EQ(machine::OpenDesktopResources().directInputObjects, 0u);
    EXPECT_EQ(machine::OpenDesktopResources().directInputDevices, 0u);
    EXPECT_TRUE(WaitUntil(
        [&] { return machine::Machine::Instance().QueryOpenResources().runningThreads == threadsBefore; }));
}
