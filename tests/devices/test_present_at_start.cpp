// Devices present when the library starts, and how their positions hold across updates.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"

#include <string>

using namespace devtest;

namespace
{
std::string PadName(int i)
{
    return "Pad " + std::to_string(i);
}
} // namespace

TEST(PresentAtStartTest, DevicesAreAnnouncedWithTheirPositionsDuringTheStartOnTheCallingThread)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(Plug(Description(JoystickDescriptor(), PadName(i).c_str())), 0u);
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);

    std::vector<uint32_t> added;
    for (const auto& e : recorder.Events())
    {
        if (e.event != NOTIF_DEVICE_ADDED)
            continue;
        added.push_back(e.value);
        EXPECT_EQ(e.thread, std::this_thread::get_id());
    }
    EXPECT_EQ(added, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0, 1, 2}));
    for (uint32_t pos = 0; pos < 3; ++pos)
        EXPECT_EQ(Narrow(DeviceName(pos)), PadName(static_cast<int>(pos)));
    KvHRUnInitialize();
}

TEST(PresentAtStartTest, AHandlerSetAfterTheStartHearsNothingOfTheDevicesAlreadyThere)
{
    ASSERT_NE(Plug(Description(JoystickDescriptor())), 0u);
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_TRUE(Announced(recorder, NOTIF_DEVICE_ADDED).empty());
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    KvHRUnInitialize();
}

TEST(PresentAtStartTest, OfTwentyInterfacesOnlyTheFirstSixteenAreOpened)
{
    for (int i = 0; i < 20; ++i)
        ASSERT_NE(Plug(Description(JoystickDescriptor(), PadName(i).c_str())), 0u);
    LogCapture log;
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);

    const std::vector<uint32_t> positions = DevicesList();
    ASSERT_EQ(positions.size(), 16u);
    for (uint32_t pos = 0; pos < 16; ++pos)
    {
        EXPECT_EQ(positions[pos], pos);
        EXPECT_EQ(Narrow(DeviceName(pos)), PadName(static_cast<int>(pos)));
    }
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED).size(), 16u);
    EXPECT_EQ(log.CountContaining(W("Opening device: ")), 16u);
    // A second update still sees only the first sixteen, and they keep their places.
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(DevicesList(), positions);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED).size(), 16u);
    KvHRUnInitialize();
}

TEST(PresentAtStartTest, PositionsHoldAcrossUpdatesAndANewcomerTakesTheNextFreeOneFromTheSearchStart)
{
    uint32_t ids[3];
    for (int i = 0; i < 3; ++i)
        ids[i] = Plug(Description(JoystickDescriptor(), PadName(i).c_str()));
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_EQ(DevicesList(), (std::vector<uint32_t>{0, 1, 2}));

    ASSERT_TRUE(Machine::Instance().UnplugDevice(ids[0], winport::machine::Removal::Surprise));
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_REMOVED), (std::vector<uint32_t>{0}));
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(Narrow(DeviceName(2)), PadName(2));

    // The search for a slot starts after the last one it began from: position 3, not the freed 0.
    ASSERT_NE(Plug(Description(JoystickDescriptor(), "Newcomer")), 0u);
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(Narrow(DeviceName(3)), "Newcomer");
    EXPECT_EQ(Narrow(DeviceName(1)), PadName(1));
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{1, 2, 3}));
    KvHRUnInitialize();
}

// Positions 0 and 1 stay taken while 62 other devices come and go, so the search start wraps to 0: the
// next device takes 2, and the start moves to 1 (one past where it began, not past the slot taken).
TEST(PresentAtStartTest, TheSearchStartAdvancesByOneFromWhereItBeganAfterWrapping)
{
    Plug(Description(JoystickDescriptor(), "Stays A"));
    Plug(Description(JoystickDescriptor(), "Stays B"));
    ASSERT_EQ(KvHRInitialize(), 0u);
    for (int i = 2; i < 64; ++i)
    {
        const uint32_t id = Plug(Description(JoystickDescriptor()));
        ASSERT_EQ(KvHRUpdateHidDevicesList(), 0u);
        ASSERT_EQ(DevicesList().back(), static_cast<uint32_t>(i));
        Machine::Instance().UnplugDevice(id, winport::machine::Removal::Surprise);
        ASSERT_EQ(KvHRUpdateHidDevicesList(), 0u);
    }
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    const uint32_t x = Plug(Description(JoystickDescriptor(), "X"));
    ASSERT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0, 1, 2}));
    Machine::Instance().UnplugDevice(x, winport::machine::Removal::Surprise);
    Plug(Description(JoystickDescriptor(), "Y"));
    ASSERT_EQ(KvHRUpdateHidDevicesList(), 0u);
    // Y's search starts at 1: 1 is taken, 2 is free again.
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(Narrow(DeviceName(2)), "Y");
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{2, 2}));
    KvHRUnInitialize();
}

TEST(PresentAtStartTest, PathsThatDifferOnlyInLetterCaseNameOneDevice)
{
    HidDeviceDescription upper = Description(JoystickDescriptor(), "Upper");
    upper.instanceKey = "1A2B3C4D";
    HidDeviceDescription lower = Description(JoystickDescriptor(), "Lower");
    lower.instanceKey = "1a2b3c4d";
    ASSERT_NE(Plug(upper), 0u);
    ASSERT_NE(Plug(lower), 0u);
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    EXPECT_EQ(Narrow(DeviceName(0)), "Upper");
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0}));
    EXPECT_TRUE(Announced(recorder, NOTIF_DEVICE_REMOVED).empty());
    KvHRUnInitialize();
}

TEST(PresentAtStartTest, DevicesTheSystemOwnsOrThatFailToOpenNeverReachTheApplication)
{
    const uint32_t refused = Plug(Description(JoystickDescriptor(), "Refused"));
    Machine::Instance().SetOpenFailure(refused, ERROR_ACCESS_DENIED);
    Plug(Description(JoystickDescriptor(), "Pad"));
    LogCapture log;
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{1}));
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{1}));
    const auto path = Machine::Instance().InterfacePaths(refused).at(0);
    EXPECT_EQ(log.Count(W("Opening device: ") + WString(path.begin(), path.end()) + W(" hRes:0x00000005\n")),
              1u);

    // Each update tries it again, at the next search start, and drops it silently; once it opens it stays.
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{1}));
    Machine::Instance().SetOpenFailure(refused, 0);
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{1, 3}));
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{1, 3}));
    EXPECT_TRUE(Announced(recorder, NOTIF_DEVICE_REMOVED).empty());
    KvHRUnInitialize();
}

TEST(PresentAtStartTest, WithoutDevicesTheListIsEmptyAndQueriesOfPositionsAnswerNotFound)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    uint32_t* list = reinterpret_cast<uint32_t*>(1);
    uint32_t count = 7;
    EXPECT_EQ(KvHRGetDevicesList(&list, &count), 0u);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0u);
    for (uint32_t id : {0u, 63u, 64u, 255u, 258u})
    {
        KvHRWChar* name = reinterpret_cast<KvHRWChar*>(1);
        EXPECT_EQ(KvHRGetDeviceName(id, &name), KVHR_ERROR_NOT_FOUND) << id;
        EXPECT_EQ(name, nullptr);
        _stHidCapability* caps = reinterpret_cast<_stHidCapability*>(1);
        count = 5;
        EXPECT_EQ(KvHRGetDeviceCapabilities(id, &caps, &count), KVHR_ERROR_NOT_FOUND) << id;
        EXPECT_EQ(caps, nullptr);
        EXPECT_EQ(count, 0u);
        uint8_t isVirtual = 1;
        EXPECT_EQ(KvHRIsDeviceVirtual(id, &isVirtual), KVHR_ERROR_NOT_FOUND) << id;
        EXPECT_EQ(isVirtual, 0);
        EXPECT_EQ(KvHRSetPolling(id, 1), KVHR_ERROR_NOT_FOUND) << id;
        EXPECT_EQ(KvHRSetReadDeviceValuesCallback(id, nullptr, nullptr), KVHR_ERROR_NOT_FOUND) << id;
    }
    KvHRUnInitialize();
}

TEST(PresentAtStartTest, TheMakersVirtualDeviceIsRecognisedByVendorAndProduct)
{
    Plug(Description(JoystickDescriptor(), "Virtual", KVHR_MAKER_VENDOR_ID, KVHR_MAKER_VIRTUAL_PRODUCT_ID));
    Plug(Description(JoystickDescriptor(), "Same vendor", KVHR_MAKER_VENDOR_ID, 0x0001));
    Plug(Description(JoystickDescriptor(), "Same product", 0x1234, KVHR_MAKER_VIRTUAL_PRODUCT_ID));
    ASSERT_EQ(KvHRInitialize(), 0u);
    const uint8_t expected[] = {1, 0, 0};
    for (uint32_t pos = 0; pos < 3; ++pos)
    {
        uint8_t isVirtual = 7;
        EXPECT_EQ(KvHRIsDeviceVirtual(pos, &isVirtual), 0u);
        EXPECT_EQ(isVirtual, expected[pos]) << pos;
    }
    KvHRUnInitialize();
}

TEST(PresentAtStartTest, UpdatesWorkBeforeTheStartAndTheStartKeepsTheDevicesAlreadyOpen)
{
    Plug(Description(JoystickDescriptor(), "Early"));
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvHRUnInitialize();
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    EXPECT_EQ(Announced(recorder, NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0}));
    KvHRUnInitialize();
}
