// The virtual devices' identifiers in every export, their timers across starts and stops, and exports
// called from inside their values callbacks.
#include <gtest/gtest.h>

#include "VirtualTestSupport.h"

#include <dinput.h>

#include <atomic>

namespace machine = winport::machine;

namespace
{
class VirtualLifecycleTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(KvHRInitialize(), 0u); }
    void TearDown() override { EXPECT_EQ(KvHRUnInitialize(), 0u); }
};

void ExpectNoVirtualDeviceResources()
{
    EXPECT_EQ(PollTimers(), 0);
    EXPECT_EQ(TimerQueues(), 0);
    const auto desktop = machine::OpenDesktopResources();
    EXPECT_EQ(desktop.directInputObjects, 0u);
    EXPECT_EQ(desktop.directInputDevices, 0u);
}
} // namespace

TEST_F(VirtualLifecycleTest, NamesAreTheLibrarysConstantsAndTheDevicesAreVirtual)
{
    KvHRWChar* keyboard = nullptr;
    KvHRWChar* again = nullptr;
    KvHRWChar* mouse = nullptr;
    ASSERT_EQ(KvHRGetDeviceName(VIRTUAL_KEYBOARD_ID, &keyboard), 0u);
    ASSERT_EQ(KvHRGetDeviceName(VIRTUAL_KEYBOARD_ID, &again), 0u);
    ASSERT_EQ(KvHRGetDeviceName(VIRTUAL_MOUSE_ID, &mouse), 0u);
    EXPECT_EQ(WString(keyboard), W("Virtual Keyboard"));
    EXPECT_EQ(WString(mouse), W("Virtual Mouse"));
    EXPECT_EQ(keyboard, again);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), 0u);

    for (uint32_t id : {VIRTUAL_KEYBOARD_ID, VIRTUAL_MOUSE_ID})
    {
        uint8_t isVirtual = 0;
        EXPECT_EQ(KvHRIsDeviceVirtual(id, &isVirtual), KVHR_ERROR_INVALID_PARAMETER);
        EXPECT_EQ(isVirtual, 1);
    }
}

TEST_F(VirtualLifecycleTest, IdentifiersBeyondTheTableWithoutFilterBitsAreEmptyPositions)
{
    ValueRecorder recorder;
    for (uint32_t id : {64u, 100u, 255u, 258u, 0x1FFu, 0xFFFFu, 0xFF00FFFFu})
    {
        SCOPED_TRACE(id);
        KvHRWChar* name = reinterpret_cast<KvHRWChar*>(&recorder);
        EXPECT_EQ(KvHRGetDeviceName(id, &name), KVHR_ERROR_NOT_FOUND);
        EXPECT_EQ(name, nullptr);
        _stHidCapability* caps = reinterpret_cast<_stHidCapability*>(&recorder);
        uint32_t count = 7;
        EXPECT_EQ(KvHRGetDeviceCapabilities(id, &caps, &count), KVHR_ERROR_NOT_FOUND);
        EXPECT_EQ(caps, nullptr);
        EXPECT_EQ(count, 0u);
        uint8_t isVirtual = 1;
        EXPECT_EQ(KvHRIsDeviceVirtual(id, &isVirtual), KVHR_ERROR_NOT_FOUND);
        EXPECT_EQ(isVirtual, 0);
        EXPECT_EQ(KvHRSetPolling(id, 1), KVHR_ERROR_NOT_FOUND);
        EXPECT_EQ(KvHRSetReadDeviceValuesCallback(id, &ValueRecorder::Callback, &recorder),
                  KVHR_ERROR_NOT_FOUND);
    }
    EXPECT_EQ(PollTimers(), 0);
}

TEST(VirtualPollingTest, PollingCannotStartWithoutTheLibraryStarted)
{
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), KVHR_ERROR_INVALID_PARAMETER);
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 1), 0u);
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 1), KVHR_ERROR_INVALID_PARAMETER);
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 0), 0u);
    ExpectNoVirtualDeviceResources();
}

TEST_F(VirtualLifecycleTest, ASecondPollingStartKeepsTheRunningTimer)
{
    ValueRecorder keys;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    EXPECT_EQ(PollTimers(), 1);
    ASSERT_TRUE(machine::PressKey(DIK_W));
    ASSERT_TRUE(keys.WaitForCount(1));

    // One switch-off ends it: no timer was left behind by the second start.
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 0), 0u);
    EXPECT_EQ(PollTimers(), 0);
    EXPECT_EQ(keys.Count(), 1u);
}

TEST(VirtualPollingTest, StartsAndStopsLeaveNothingBehind)
{
    const int threadsBefore = machine::Machine::Instance().QueryOpenResources().runningThreads;
    for (int cycle = 0; cycle < 100; ++cycle)
    {
        ASSERT_EQ(KvHRInitialize(), 0u);
        ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
        ASSERT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 1), 0u);
        ASSERT_EQ(KvHRUnInitialize(), 0u);
    }
    ExpectNoVirtualDeviceResources();

    // A second start without a stop sets the devices up afresh over the first ones.
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    EXPECT_EQ(KvHRInitialize(), KVHR_ERROR_ALREADY_INITIALIZED);
    EXPECT_EQ(PollTimers(), 0);
    EXPECT_EQ(TimerQueues(), 1);
    EXPECT_EQ(machine::OpenDesktopResources().directInputObjects, 1u);
    EXPECT_EQ(machine::OpenDesktopResources().directInputDevices, 2u);
    ASSERT_EQ(KvHRUnInitialize(), 0u);
    ExpectNoVirtualDeviceResources();
    EXPECT_TRUE(WaitUntil(
        [&] { return machine::Machine::Instance().QueryOpenResources().runningThreads == threadsBefore; }));
}

TEST_F(VirtualLifecycleTest, ARestartForgetsTheCallbacksAndThePolling)
{
    ValueRecorder keys;
    ValueRecorder mouse;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    ASSERT_EQ(KvHRUnInitialize(), 0u);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(PollTimers(), 0);

    // Polling switched on again, but the callback registered before the restart is gone.
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_MOUSE_ID, &ValueRecorder::Callback, &mouse), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 1), 0u);
    ASSERT_TRUE(machine::PressKey(DIK_E));
    ASSERT_TRUE(PassKeyboardTicks(mouse));
    EXPECT_EQ(keys.Count(), 0u);

    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    ASSERT_TRUE(machine::ReleaseKey(DIK_E));
    ASSERT_TRUE(keys.WaitForCount(1));
    EXPECT_EQ(keys.Deliveries()[0].values.at(0).value, 0u);
}

namespace
{
// A values callback that switches polling of `target` off from inside its first call, and asks for the
// names and capabilities of both virtual devices and of an empty position.
struct CallingBack
{
    uint32_t target = 0;
    std::atomic<int> calls{0};
    std::atomic<uint32_t> pollingResult{0xFFFFFFFF};
    uint32_t keyboardCaps = 0;
    uint32_t mouseCaps = 0;
    WString mouseName;
    uint32_t emptyPositionName = 0;

    static void KVHR_CALL Callback(void* context, const _stHidValue*, uint32_t)
    {
        CallingBack* self = static_cast<CallingBack*>(context);
        if (self->calls++ != 0)
            return;
        self->ReadDevices();
        self->pollingResult = KvHRSetPolling(self->target, 0);
    }

    void ReadDevices()
    {
        _stHidCapability* caps = nullptr;
        KvHRGetDeviceCapabilities(VIRTUAL_KEYBOARD_ID, &caps, &keyboardCaps);
        KvHRFree(caps);
        KvHRGetDeviceCapabilities(VIRTUAL_MOUSE_ID, &caps, &mouseCaps);
        KvHRFree(caps);
        KvHRWChar* name = nullptr;
        KvHRGetDeviceName(VIRTUAL_MOUSE_ID, &name);
        mouseName = name ? name : WString();
        emptyPositionName = KvHRGetDeviceName(300, &name);
    }

    void ExpectAnswers()
    {
        EXPECT_EQ(keyboardCaps, 255u);
        EXPECT_EQ(mouseCaps, 8u);
        EXPECT_EQ(mouseName, W("Virtual Mouse"));
        EXPECT_EQ(emptyPositionName, KVHR_ERROR_NOT_FOUND);
    }
};
} // namespace

TEST_F(VirtualLifecycleTest, TheKeyboardsCallbackSwitchesPollingOffFromItsOwnTick)
{
    CallingBack callback;
    callback.target = VIRTUAL_KEYBOARD_ID;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &CallingBack::Callback, &callback), 0u);
    // Three events wait for the first tick; the stop inside the first call drops the other two.
    ASSERT_TRUE(machine::PressKey(DIK_A));
    ASSERT_TRUE(machine::PressKey(DIK_S));
    ASSERT_TRUE(machine::PressKey(DIK_D));
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    ASSERT_TRUE(WaitUntil([&] { return callback.pollingResult != 0xFFFFFFFF; }));
    EXPECT_EQ(callback.pollingResult, 0u);
    callback.ExpectAnswers();
    EXPECT_TRUE(WaitUntil([] { return PollTimers() == 0; }));
    EXPECT_EQ(callback.calls, 1);

    // Switched on again from outside, it polls as before.
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    ASSERT_TRUE(machine::ReleaseKey(DIK_A));
    ASSERT_TRUE(WaitUntil([&] { return callback.calls == 2; }));
}

TEST_F(VirtualLifecycleTest, TheMousesCallbackSwitchesPollingOffFromItsOwnTickAndStopsTheKeyboardToo)
{
    CallingBack callback;
    callback.target = VIRTUAL_MOUSE_ID;
    ValueRecorder keys;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_MOUSE_ID, &CallingBack::Callback, &callback), 0u);
    machine::MoveMouse(1, 1, 1);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 1), 0u);
    ASSERT_TRUE(WaitUntil([&] { return callback.pollingResult != 0xFFFFFFFF; }));
    EXPECT_EQ(callback.pollingResult, 0u);
    callback.ExpectAnswers();
    EXPECT_TRUE(WaitUntil([] { return PollTimers() == 0; }));
    EXPECT_EQ(callback.calls, 1);
    EXPECT_EQ(keys.Count(), 0u);
}

TEST_F(VirtualLifecycleTest, AStopFromAnotherThreadWaitsForTheRunningTickAndEndsItsDeliveries)
{
    // The callback holds the tick's first delivery until released; the stop, asked for meanwhile, returns
    // only after the tick, and the tick's second event is not delivered any more.
    struct Blocking
    {
        std::atomic<int> calls{0};
        std::atomic<bool> release{false};
        std::atomic<bool> returned{false};
        static void KVHR_CALL Callback(void* context, const _stHidValue*, uint32_t)
        {
            Blocking* self = static_cast<Blocking*>(context);
            ++self->calls;
            WaitUntil([&] { return self->release.load(); });
            self->returned = true;
        }
    } blocking;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &Blocking::Callback, &blocking), 0u);
    ASSERT_TRUE(machine::PressKey(DIK_A));
    ASSERT_TRUE(machine::ReleaseKey(DIK_A));
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    ASSERT_TRUE(WaitUntil([&] { return blocking.calls == 1; }));
    std::thread releaser(
        [&]
        {
            std::this_thread::yield();
            blocking.release = true;
        });
    // Switching the mouse off ends the keyboard's timer too, while the keyboard's polling stays on.
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 0), 0u);
    EXPECT_TRUE(blocking.returned);
    releaser.join();
    EXPECT_EQ(PollTimers(), 0);
    EXPECT_EQ(blocking.calls, 1);
}

TEST_F(VirtualLifecycleTest, TheLibraryStoppedAndStartedFromInsideATickGoesOnAfterIt)
{
    struct Restarting
    {
        std::atomic<int> calls{0};
        std::atomic<uint32_t> stopResult{0xFFFFFFFF};
        std::atomic<uint32_t> startResult{0xFFFFFFFF};
        static void KVHR_CALL Callback(void* context, const _stHidValue*, uint32_t)
        {
            Restarting* self = static_cast<Restarting*>(context);
            if (self->calls++ != 0)
                return;
            self->stopResult = KvHRUnInitialize();
            self->startResult = KvHRInitialize();
        }
    } restarting;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &Restarting::Callback, &restarting), 0u);
    ASSERT_TRUE(machine::PressKey(DIK_A));
    ASSERT_TRUE(machine::ReleaseKey(DIK_A));
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    ASSERT_TRUE(WaitUntil([&] { return restarting.startResult != 0xFFFFFFFF; }));
    EXPECT_EQ(restarting.stopResult, 0u);
    EXPECT_EQ(restarting.startResult, 0u);

    // The old queue went once the tick returned; the new one has no timer, no callback and the same
    // devices.
    EXPECT_TRUE(WaitUntil([] { return TimerQueues() == 1; }));
    EXPECT_EQ(PollTimers(), 0);
    EXPECT_EQ(machine::OpenDesktopResources().directInputObjects, 1u);
    EXPECT_EQ(machine::OpenDesktopResources().directInputDevices, 2u);
    EXPECT_EQ(restarting.calls, 1);
}
