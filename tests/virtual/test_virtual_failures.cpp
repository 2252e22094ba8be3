// The virtual devices when the system refuses part of their setup: the start still answers for the filter
// manager only and logs the setup's status, the exports answer as documented for a device that was not set
// up (polling on succeeds, nothing is delivered), the stop leaves nothing behind, and a later start works.
#include <gtest/gtest.h>

#include "VirtualTestSupport.h"

#include <dinput.h>

#include <chrono>
#include <cstdio>
#include <ostream>

namespace machine = winport::machine;
using machine::Machine;
using machine::WinportCall;

namespace
{

constexpr DWORD kOutOfMemory = static_cast<DWORD>(DIERR_OUTOFMEMORY);
constexpr DWORD kKeyA = 0x1E; // DIK_A

WString SetupLine(DWORD status)
{
    char text[96];
    std::snprintf(text, sizeof text, "KvHRInitialize: the virtual devices could not be set up, status 0x%08x",
                  static_cast<unsigned>(status));
    return W(text);
}

uint32_t CapabilityCount(uint32_t id)
{
    _stHidCapability* caps = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(KvHRGetDeviceCapabilities(id, &caps, &count), 0u);
    KvHRFree(caps);
    return count;
}

// Polls the keyboard into `keys` and presses A: true when the press is delivered.
bool KeyboardDelivers(ValueRecorder& keys, std::chrono::milliseconds deadline)
{
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    machine::PressKey(kKeyA);
    const bool delivered = WaitUntil([&] { return keys.Count() > 0; }, deadline);
    machine::ReleaseKey(kKeyA);
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 0), 0u);
    return delivered;
}

// Presses and releases A in turn until the polled keyboard has delivered something.
bool TypeUntilDelivered(ValueRecorder& keys)
{
    bool down = false;
    return WaitUntil(
        [&]
        {
            down = !down;
            down ? machine::PressKey(kKeyA) : machine::ReleaseKey(kKeyA);
            return keys.Count() > 0;
        });
}

void ExpectNothingLeft()
{
    EXPECT_EQ(PollTimers(), 0);
    EXPECT_EQ(TimerQueues(), 0);
    const auto desktop = machine::OpenDesktopResources();
    EXPECT_EQ(desktop.directInputObjects, 0u);
    EXPECT_EQ(desktop.directInputDevices, 0u);
}

// After the stop nothing stays, and a start without failures sets both devices up.
void ExpectCleanStopAndWorkingRestart()
{
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    ExpectNothingLeft();
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(CapabilityCount(VIRTUAL_MOUSE_ID), 8u) << "X, Y, wheel and five buttons";
    ValueRecorder keys;
    EXPECT_TRUE(KeyboardDelivers(keys, std::chrono::seconds(10)));
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    ExpectNothingLeft();
}

struct SetupFailure
{
    const char* name;
    WinportCall call;
    int skip;           // calls let through first (the keyboard is set up before the mouse)
    bool keyboardWorks; // otherwise the mouse is not set up either
};

void PrintTo(const SetupFailure& failure, std::ostream* out)
{
    *out << failure.name;
}

class VirtualSetupFailureTest : public testing::TestWithParam<SetupFailure>
{
};

} // namespace

TEST_P(VirtualSetupFailureTest, TheStartLogsTheStatusAndTheDeviceNotSetUpDeliversNothing)
{
    const SetupFailure& failure = GetParam();
    LogCapture log;
    Machine::Instance().FailCalls(failure.call, kOutOfMemory, 1, failure.skip);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(Machine::Instance().PendingFailures(failure.call), 0);
    EXPECT_EQ(log.Count(SetupLine(kOutOfMemory)), 1u);

    EXPECT_EQ(CapabilityCount(VIRTUAL_KEYBOARD_ID), 255u)
        << "the keyboard's records do not depend on its setup";
    EXPECT_EQ(CapabilityCount(VIRTUAL_MOUSE_ID), 0u) << "no mouse was set up";
    ValueRecorder keys;
    // A working keyboard delivers within a tick; one not set up is given four.
    EXPECT_EQ(KeyboardDelivers(keys, failure.keyboardWorks ? std::chrono::milliseconds(10000)
                                                           : std::chrono::milliseconds(500)),
              failure.keyboardWorks);

    ExpectCleanStopAndWorkingRestart();
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, VirtualSetupFailureTest,
    testing::Values(SetupFailure{"DirectInput", WinportCall::DirectInput8Create, 0, false},
                    SetupFailure{"Enumeration", WinportCall::DirectInputEnumDevices, 0, false},
                    SetupFailure{"KeyboardDevice", WinportCall::DirectInputCreateDevice, 0, false},
                    SetupFailure{"KeyboardFormat", WinportCall::DeviceSetDataFormat, 0, false},
                    SetupFailure{"KeyboardCapabilities", WinportCall::DeviceGetCapabilities, 0, false},
                    SetupFailure{"KeyboardObjects", WinportCall::DeviceEnumObjects, 0, false},
                    SetupFailure{"MouseDevice", WinportCall::DirectInputCreateDevice, 1, true},
                    SetupFailure{"MouseFormat", WinportCall::DeviceSetDataFormat, 1, true}),
    [](const testing::TestParamInfo<SetupFailure>& info) { return info.param.name; });

// No timer queue: the start logs ERROR_INVALID_HANDLE and sets nothing up, and polling on answers 87.
TEST(VirtualTimerFailureTest, WithoutATimerQueuePollingOnAnswersInvalidParameter)
{
    LogCapture log;
    Machine::Instance().FailCalls(WinportCall::CreateTimerQueue, ERROR_NOT_ENOUGH_MEMORY);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(log.Count(SetupLine(ERROR_INVALID_HANDLE)), 1u);
    EXPECT_EQ(machine::OpenDesktopResources().directInputObjects, 0u);
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 87u);
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 1), 87u);
    EXPECT_EQ(PollTimers(), 0);
    ExpectCleanStopAndWorkingRestart();
}

// A polling timer that cannot be created: polling on answers 87 and leaves no timer behind, so the next
// try creates one and the keyboard delivers.
TEST(VirtualTimerFailureTest, APollingTimerThatCannotBeCreatedIsCreatedByTheNextTry)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    Machine::Instance().FailCalls(WinportCall::CreateTimerQueueTimer, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 87u);
    EXPECT_EQ(PollTimers(), 0);
    ValueRecorder keys;
    EXPECT_TRUE(KeyboardDelivers(keys, std::chrono::seconds(10)));
    EXPECT_EQ(keys.Deliveries().at(0).values.at(0).usage, kKeyA);
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    ExpectNothingLeft();
}

// The keyboard's acquisition failing at the start is not a setup failure: the first tick finds it not
// acquired, acquires it, and the keys pressed from then on are delivered.
TEST(VirtualAcquireFailureTest, AKeyboardNotAcquiredAtTheStartIsAcquiredByItsFirstTick)
{
    LogCapture log;
    Machine::Instance().FailCalls(WinportCall::DeviceAcquire, kOutOfMemory);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(Machine::Instance().PendingFailures(WinportCall::DeviceAcquire), 0);
    EXPECT_EQ(log.CountContaining(W("the virtual devices could not be set up")), 0u);
    ValueRecorder keys;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    EXPECT_TRUE(TypeUntilDelivered(keys));
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 0), 0u);
    EXPECT_EQ(keys.Deliveries().at(0).values.at(0).usage, kKeyA);
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    ExpectNothingLeft();
}

// Devices whose buffer size cannot be set are unbuffered: every read fails, so they could never deliver.
// The setup says so for each; the start's status stays that of the enumeration of objects.
TEST(VirtualBufferSizeFailureTest, ADeviceWithoutItsBufferSizeIsLoggedAndDeliversNothing)
{
    LogCapture log;
    Machine::Instance().FailCalls(WinportCall::DeviceSetProperty, kOutOfMemory, 100000);
    ASSERT_EQ(KvHRInitialize(), 0u);
    Machine::Instance().ClearFailures();
    for (const char* device : {"keyboard", "mouse"})
        EXPECT_EQ(log.Count(W("CKvHidDirectInput: the buffer size of the ") + W(device) +
                            W(" could not be set (0x8007000e); it delivers nothing")),
                  1u)
            << device;
    EXPECT_EQ(log.CountContaining(W("the virtual devices could not be set up")), 0u);
    ValueRecorder keys;
    EXPECT_FALSE(KeyboardDelivers(keys, std::chrono::milliseconds(500)));
    ExpectCleanStopAndWorkingRestart();
    EXPECT_EQ(log.CountContaining(W("could not be set (")), 2u) << "the restart set both buffers";
}

// A keyboard whose acquisition keeps answering DIERR_INPUTLOST is tried a bounded number of times per tick:
// the timer thread goes on (the mouse keeps delivering), and once acquiring works again the keyboard does.
TEST(VirtualAcquireFailureTest, AnAcquisitionLostForGoodDoesNotHoldTheTimerThread)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    ValueRecorder mouse;
    ValueRecorder keys;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_MOUSE_ID, &ValueRecorder::Callback, &mouse), 0u);
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 1), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);

    constexpr int kForever = 0x7FFFFFFF;
    Machine::Instance().FailCalls(WinportCall::DeviceAcquire, static_cast<DWORD>(DIERR_INPUTLOST), kForever);
    machine::SetKeyboardPresent(false); // its device object loses its acquisition
    EXPECT_TRUE(PassKeyboardTicks(mouse)) << "the timer thread is not held by the keyboard";
    const int tries = kForever - Machine::Instance().PendingFailures(WinportCall::DeviceAcquire);
    EXPECT_GT(tries, 0);
    EXPECT_LT(tries, 16 * 1000) << "at most 16 tries a tick";

    Machine::Instance().ClearFailures();
    machine::SetKeyboardPresent(true);
    EXPECT_TRUE(TypeUntilDelivered(keys));
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 0), 0u);
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    ExpectNothingLeft();
}
