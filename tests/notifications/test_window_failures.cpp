// The whole library when the system refuses the notification window's parts: its thread, its class, its
// window, the interface registration or a device's handle registration. The start still answers as
// documented, the failures are logged, the devices present are taken in, a manual update still finds new
// ones, the stop neither hangs nor leaves anything behind, and a later start works in full.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"

#include <chrono>
#include <ostream>

using namespace devtest;
using winport::machine::OpenDesktopResources;
using winport::machine::Removal;
using winport::machine::WinportCall;

namespace
{

WString Check(const char* condition)
{
    return W("ASSERT(") + W(condition) + W(") failed in \"KvDevNotifications\"");
}

size_t Windows()
{
    return OpenDesktopResources().windows;
}

size_t Registrations()
{
    return OpenDesktopResources().deviceNotifications;
}

// After a start without a working window: a stop that returns at once and leaves no thread, window or
// registration, then a full start that hears a device plugged while it runs.
void ExpectCleanStopAndWorkingRestart(KvNotificationRecorder& recorder, LogCapture& log, int threadsBefore)
{
    const auto stopping = std::chrono::steady_clock::now();
    KvHRUnInitialize();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::milliseconds(1500));
    EXPECT_EQ(log.CountContaining(Check("waitResult == WAIT_OBJECT_0")), 0u);
    EXPECT_EQ(Windows(), 0u);
    EXPECT_EQ(Registrations(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == threadsBefore; }));

    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(Windows(), 1u);
    const size_t added = Announced(recorder, NOTIF_DEVICE_ADDED).size();
    ASSERT_NE(Plug(Description(JoystickDescriptor(), "Late")), 0u);
    EXPECT_TRUE(WaitUntil([&] { return Announced(recorder, NOTIF_DEVICE_ADDED).size() == added + 1; }));
    KvHRUnInitialize();
}

} // namespace

TEST(WindowFailureTest, AMessageThreadThatCannotBeCreatedLeavesTheDevicesToManualUpdates)
{
    ASSERT_NE(Plug(Description(JoystickDescriptor(), "Present")), 0u);
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    const int threadsBefore = RunningThreads();
    LogCapture log;
    Machine::Instance().FailCalls(WinportCall::CreateThread, ERROR_NOT_ENOUGH_MEMORY);
    ASSERT_EQ(KvHRInitialize(), 0u);

    EXPECT_EQ(Machine::Instance().PendingFailures(WinportCall::CreateThread), 0);
    EXPECT_EQ(log.CountContaining(Check("m_hNotifThread")), 1u);
    EXPECT_EQ(log.CountContaining(Check("dwResult == WAIT_OBJECT_0")), 1u);
    EXPECT_EQ(log.CountContaining(Check("m_hInterfaceNotification")), 1u);
    EXPECT_EQ(Windows(), 0u);
    EXPECT_EQ(Registrations(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0}));
    ASSERT_NE(Plug(Description(JoystickDescriptor(), "Plugged")), 0u);
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(Narrow(DeviceName(1)), "Plugged");

    ExpectCleanStopAndWorkingRestart(recorder, log, threadsBefore);
}

struct WindowPart
{
    const char* name;
    WinportCall call;
};

void PrintTo(const WindowPart& part, std::ostream* out)
{
    *out << part.name;
}

class WindowPartFailureTest : public testing::TestWithParam<WindowPart>
{
};

// No class or no window: the message thread logs it and ends at once (it would wait for messages that
// cannot come), the registrations that need the window fail with their checks, and the stop finds no
// thread to wait for.
TEST_P(WindowPartFailureTest, TheMessageThreadEndsAtOnceAndTheStopFindsNothingToWaitFor)
{
    ASSERT_NE(Plug(Description(JoystickDescriptor(), "Present")), 0u);
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    const int threadsBefore = RunningThreads();
    LogCapture log;
    Machine::Instance().FailCalls(GetParam().call, ERROR_NOT_ENOUGH_MEMORY);
    ASSERT_EQ(KvHRInitialize(), 0u);

    EXPECT_EQ(Machine::Instance().PendingFailures(GetParam().call), 0);
    EXPECT_EQ(log.CountContaining(W("CKvDevNotifications: the notification window could not be created")),
              1u);
    EXPECT_EQ(log.CountContaining(Check("dwResult == WAIT_OBJECT_0")), 0u) << "the thread signals its start";
    EXPECT_EQ(log.CountContaining(Check("m_wndNotif!=NULL && m_wndNotif!=INVALID_HANDLE_VALUE")), 1u);
    EXPECT_EQ(log.CountContaining(Check("m_hInterfaceNotification")), 1u);
    EXPECT_EQ(Windows(), 0u);
    EXPECT_EQ(Registrations(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0}));

    ExpectCleanStopAndWorkingRestart(recorder, log, threadsBefore);
}

INSTANTIATE_TEST_SUITE_P(ClassOrWindow, WindowPartFailureTest,
                         testing::Values(WindowPart{"Class", WinportCall::RegisterClassW},
                                         WindowPart{"Window", WinportCall::CreateWindowExW}),
                         [](const testing::TestParamInfo<WindowPart>& info) { return info.param.name; });

// Without the interface registration no arrival is heard (only the present device's handle is registered),
// but an update the application asks for takes a new device in.
TEST(WindowFailureTest, WithoutTheInterfaceRegistrationNewDevicesComeWithTheNextUpdate)
{
    ASSERT_NE(Plug(Description(JoystickDescriptor(), "Present")), 0u);
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    LogCapture log;
    Machine::Instance().FailCalls(WinportCall::RegisterDeviceNotificationW, ERROR_NOT_ENOUGH_MEMORY);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(log.CountContaining(Check("m_hInterfaceNotification")), 1u);
    EXPECT_EQ(Registrations(), 1u) << "the present device's handle only";

    ASSERT_NE(Plug(Description(JoystickDescriptor(), "Plugged")), 0u);
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(Registrations(), 2u);
    KvHRUnInitialize();
    EXPECT_EQ(Registrations(), 0u);
}

// A device whose handle cannot be registered is still taken in; its removal is then noticed through its
// interface's removal and the update that follows, and announced once.
TEST(WindowFailureTest, ADeviceWithoutAHandleRegistrationIsRemovedThroughItsInterface)
{
    const uint32_t id = Plug(Description(JoystickDescriptor(), "Present"));
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    LogCapture log;
    // The interface registration comes first, then the device's handle.
    Machine::Instance().FailCalls(WinportCall::RegisterDeviceNotificationW, ERROR_NOT_ENOUGH_MEMORY, 1, 1);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(Machine::Instance().PendingFailures(WinportCall::RegisterDeviceNotificationW), 0);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0}));
    EXPECT_EQ(Registrations(), 1u) << "the interface registration only";

    ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Surprise));
    EXPECT_TRUE(WaitUntil([&] { return Announced(recorder, NOTIF_DEVICE_REMOVED).size() == 1; }));
    EXPECT_TRUE(WaitUntil([&] { return DevicesList().empty(); }));
    EXPECT_EQ(Machine::Instance().GetDeviceStats(id).openHandles, 0);
    KvHRUnInitialize();
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_REMOVED), (std::vector<uint32_t>{0}));
    EXPECT_EQ(FailedChecks(log), "");
    EXPECT_EQ(Registrations(), 0u);
}

// An interface removal whose update thread cannot be created: the removal is not lost, the message thread
// brings the table up to date itself once its device timer falls due, as it does for an arrival.
TEST(WindowFailureTest, AnInterfaceRemovalWithoutAnUpdateThreadIsTakenUpByTheMessageThread)
{
    const uint32_t id = Plug(Description(JoystickDescriptor(), "Present"));
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    LogCapture log;
    // Without its handle registration the device's removal is heard through its interface only.
    Machine::Instance().FailCalls(WinportCall::RegisterDeviceNotificationW, ERROR_NOT_ENOUGH_MEMORY, 1, 1);
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_EQ(Registrations(), 1u);

    Machine::Instance().FailCalls(WinportCall::CreateThread, ERROR_NOT_ENOUGH_MEMORY);
    ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Surprise));
    EXPECT_EQ(Machine::Instance().PendingFailures(WinportCall::CreateThread), 0);
    EXPECT_TRUE(WaitUntil([&] { return Announced(recorder, NOTIF_DEVICE_REMOVED).size() == 1; }));
    EXPECT_EQ(log.CountContaining(W("CKvHidDeviceMgmt: no thread for the update after an interface removal "
                                    "(error 8); the message thread updates the table")),
              1u);
    EXPECT_TRUE(DevicesList().empty());
    EXPECT_EQ(Machine::Instance().GetDeviceStats(id).openHandles, 0);
    KvHRUnInitialize();
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_REMOVED), (std::vector<uint32_t>{0}));
}
