// What the exports show when the system refuses part of a device's enumeration or opening: a device that
// cannot be opened is never announced nor listed and keeps nothing open, the others are not disturbed, and
// the next update takes the device in once it opens.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"

#include <hidpi.h>

#include <cstdio>
#include <ostream>
#include <string>

using namespace devtest;
using winport::machine::WinportCall;

namespace
{

constexpr NTSTATUS kInvalidPreparsedData = HIDP_STATUS_INVALID_PREPARSED_DATA;

WString OpeningLine(uint32_t machineId, DWORD code)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", static_cast<unsigned>(code));
    const std::u16string path = Machine::Instance().InterfacePaths(machineId).at(0);
    return W("Opening device: ") + WString(path.begin(), path.end()) + W(" hRes:") + W(hex);
}

int OpenFiles()
{
    const auto open = Machine::Instance().QueryOpenResources().handlesByKind;
    const auto it = open.find("file");
    return it == open.end() ? 0 : it->second;
}

struct OpenFailure
{
    const char* name;
    WinportCall call;
    DWORD error;  // what the machine answers
    int skip;     // calls of the device let through first
    DWORD logged; // the code the opening reports
};

void PrintTo(const OpenFailure& failure, std::ostream* out)
{
    *out << failure.name;
}

class OpenFailureTest : public testing::TestWithParam<OpenFailure>
{
};

} // namespace

// The middle one of three devices fails to open at the start: the other two take positions 0 and 2 (the
// failed one held slot 1 for its attempt), only they are announced, and the failure is logged with the
// device's path and the code of the failing step. The next update opens it at the next slot.
TEST_P(OpenFailureTest, TheDeviceIsLeftOutUntilAnUpdateOpensIt)
{
    const OpenFailure& failure = GetParam();
    const uint32_t first = Plug(Description(JoystickDescriptor(), "First"));
    const uint32_t refused = Plug(Description(JoystickDescriptor(), "Refused"));
    const uint32_t third = Plug(Description(JoystickDescriptor(), "Third"));
    Machine::Instance().FailDeviceCalls(refused, failure.call, failure.error, 1, failure.skip);
    LogCapture log;
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);

    EXPECT_EQ(Machine::Instance().PendingFailures(failure.call), 0) << "the opening reached the failing call";
    EXPECT_EQ(log.CountContaining(OpeningLine(refused, failure.logged)), 1u) << failure.name;
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0, 2}));
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0, 2}));
    EXPECT_EQ(Narrow(DeviceName(0)), "First");
    EXPECT_EQ(Narrow(DeviceName(2)), "Third");
    EXPECT_EQ(Machine::Instance().GetDeviceStats(refused).openHandles, 0);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(first).openHandles, 1);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(third).openHandles, 1);
    EXPECT_EQ(FailedChecks(log), "");

    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0, 2, 3}));
    EXPECT_EQ(Narrow(DeviceName(3)), "Refused");
    EXPECT_EQ(Capabilities(3).size(), 10u);
    EXPECT_TRUE(Announced(recorder, NOTIF_DEVICE_REMOVED).empty());
    KvHRUnInitialize();
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, OpenFailureTest,
    testing::Values(
        OpenFailure{"first open", WinportCall::CreateFileW, ERROR_SHARING_VIOLATION, 0,
                    ERROR_SHARING_VIOLATION},
        OpenFailure{"preparsed data", WinportCall::HidD_GetPreparsedData, ERROR_NOT_ENOUGH_MEMORY, 0,
                    ERROR_NOT_ENOUGH_MEMORY},
        OpenFailure{"attributes", WinportCall::HidD_GetAttributes, ERROR_GEN_FAILURE, 0, ERROR_GEN_FAILURE},
        // The parser sets no last error: the code is ERROR_UNIDENTIFIED_ERROR.
        OpenFailure{"caps", WinportCall::HidP_GetCaps, static_cast<DWORD>(kInvalidPreparsedData), 0, 1287},
        // The device is opened twice; the second open, for overlapped reads, fails.
        OpenFailure{"second open", WinportCall::CreateFileW, ERROR_SHARING_VIOLATION, 1,
                    ERROR_SHARING_VIOLATION}),
    [](const testing::TestParamInfo<OpenFailure>& info)
    {
        std::string name;
        for (const char* c = info.param.name; *c; ++c)
            if (*c != ' ')
                name.push_back(*c);
        return name;
    });

// An enumeration that fails at its start lists no interface: the update drops every device (announcing
// each removal) and the sixteen empty entries open nothing. The next update takes the devices in again.
TEST(EnumerationFailureTest, AFailedDeviceListDropsEveryDeviceUntilTheNextUpdate)
{
    const uint32_t first = Plug(Description(JoystickDescriptor(), "First"));
    const uint32_t second = Plug(Description(JoystickDescriptor(), "Second"));
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_EQ(DevicesList(), (std::vector<uint32_t>{0, 1}));
    const int filesBefore = OpenFiles();

    Machine::Instance().FailCalls(WinportCall::SetupDiGetClassDevsW, ERROR_NOT_ENOUGH_MEMORY);
    LogCapture log;
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_REMOVED), (std::vector<uint32_t>{0, 1}));
    EXPECT_TRUE(DevicesList().empty());
    EXPECT_EQ(OpenFiles(), filesBefore - 2);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(first).openHandles, 0);
    EXPECT_EQ(log.CountContaining(W("Opening device:  hRes:")), 16u) << "each empty entry fails to open";
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED).size(), 2u);

    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(DevicesList().size(), 2u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED).size(), 4u);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(second).openHandles, 1);
    KvHRUnInitialize();
}

// The detail step failing at the second interface ends the enumeration with the first entry filled and
// the rest empty: the first device stays where it is, unannounced, and the later ones are dropped.
TEST(EnumerationFailureTest, ADetailStepThatFailsKeepsTheEntriesFilledBeforeIt)
{
    for (const char* name : {"First", "Second", "Third"})
        ASSERT_NE(Plug(Description(JoystickDescriptor(), name)), 0u);
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);

    // Each interface costs a size query and a fill; the second interface's fill fails.
    Machine::Instance().FailCalls(WinportCall::SetupDiGetDeviceInterfaceDetailW, ERROR_GEN_FAILURE, 1, 3);
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(Machine::Instance().PendingFailures(WinportCall::SetupDiGetDeviceInterfaceDetailW), 0);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_REMOVED), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    EXPECT_EQ(Narrow(DeviceName(0)), "First");
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED).size(), 3u);
    KvHRUnInitialize();
}

// Interface paths of 255 characters fit the enumeration entry with its terminator; one character more and
// the interface is left out, logged, and never opened.
TEST(EnumerationFailureTest, AnInterfacePathLongerThanTheEntryIsLeftOut)
{
    HidDeviceDescription fits = Description(JoystickDescriptor(), "Fits");
    fits.instanceKey = "1";
    const uint32_t probe = Plug(fits);
    const size_t base = Machine::Instance().InterfacePaths(probe).at(0).size() - 1;
    ASSERT_LT(base, 255u);
    Machine::Instance().UnplugDevice(probe, winport::machine::Removal::Surprise);
    fits.instanceKey = std::string(255 - base, '1');
    HidDeviceDescription tooLong = Description(JoystickDescriptor(), "Too long");
    tooLong.instanceKey = std::string(256 - base, '2');
    const uint32_t fitting = Plug(fits);
    const uint32_t refused = Plug(tooLong);
    ASSERT_EQ(Machine::Instance().InterfacePaths(fitting).at(0).size(), 255u);
    ASSERT_EQ(Machine::Instance().InterfacePaths(refused).at(0).size(), 256u);

    LogCapture log;
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0}));
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    EXPECT_EQ(Narrow(DeviceName(0)), "Fits");
    const std::u16string path = Machine::Instance().InterfacePaths(refused).at(0);
    EXPECT_EQ(
        log.CountContaining(W("Interface path too long, left out: ") + WString(path.begin(), path.end())),
        1u);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(refused).openHandles, 0);
    KvHRUnInitialize();
}
