// How devices leave: through an update, and all at once when the library is unloaded with dlclose.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"

using namespace devtest;

TEST(LeavingTest, OneUpdateAnnouncesRemovalsByPositionFirstThenAdditionsInEnumerationOrder)
{
    uint32_t ids[4];
    for (uint32_t& id : ids)
        id = Plug(Description(JoystickDescriptor()));
    ASSERT_EQ(KvHRInitialize(), 0u);
    // Stopped, the library no longer follows the machine: the open devices stay, and only the update below
    // brings the table up to date.
    KvHRUnInitialize();
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    const uint32_t newcomer = Plug(Description(JoystickDescriptor()));
    Machine::Instance().UnplugDevice(ids[3], winport::machine::Removal::Orderly);
    Machine::Instance().UnplugDevice(ids[1], winport::machine::Removal::Surprise);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0, 1, 2, 3}));
    EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u);

    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].event, NOTIF_DEVICE_REMOVED);
    EXPECT_EQ(events[0].value, 1u);
    EXPECT_EQ(events[1].event, NOTIF_DEVICE_REMOVED);
    EXPECT_EQ(events[1].value, 3u);
    EXPECT_EQ(events[2].event, NOTIF_DEVICE_ADDED);
    EXPECT_EQ(events[2].value, 4u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0, 2, 4}));
    for (uint32_t gone : {ids[1], ids[3]})
        EXPECT_EQ(Machine::Instance().GetDeviceStats(gone).openHandles, 0);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(newcomer).openHandles, 1);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(ids[0]).openHandles, 1);
    KvHRUnInitialize();
}

TEST(LeavingTest, ARemovedPositionAnswersNotFoundEverywhere)
{
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_EQ(KvHRInitialize(), 0u);
    Machine::Instance().UnplugDevice(id, winport::machine::Removal::Surprise);
    ASSERT_EQ(KvHRUpdateHidDevicesList(), 0u);
    KvHRWChar* name = nullptr;
    EXPECT_EQ(KvHRGetDeviceName(0, &name), KVHR_ERROR_NOT_FOUND);
    uint8_t isVirtual = 0;
    EXPECT_EQ(KvHRIsDeviceVirtual(0, &isVirtual), KVHR_ERROR_NOT_FOUND);
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(0, &ValueRecorder::Callback, nullptr), KVHR_ERROR_NOT_FOUND);
    KvHRUnInitialize();
}
