// The monitor's device model against the library and the machine's mouse: a delivery of one record
// updates that input and keeps the others; a device that does not exist is not watched.
#include <gtest/gtest.h>

#include "MonDeviceModel.h"
#include "machine/DesktopControl.h"

#include <chrono>
#include <thread>

namespace
{
// The mouse's (X, Y, button 1) as the model holds them, once they equal what is expected or the deadline
// passes.
std::tuple<int32_t, int32_t, uint32_t> MouseOnceEqual(CMonDeviceModel& model,
                                                      const std::tuple<int32_t, int32_t, uint32_t>& expected)
{
    std::tuple<int32_t, int32_t, uint32_t> seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do
    {
        for (const MonDevice& device : model.Snapshot())
            for (const _stHidValue& value : device.values)
            {
                if (value.usagePage == 1 && value.usage == 0x30)
                    std::get<0>(seen) = value.scaledValue;
                if (value.usagePage == 1 && value.usage == 0x31)
                    std::get<1>(seen) = value.scaledValue;
                if (value.usagePage == 9 && value.usage == 1)
                    std::get<2>(seen) = value.value;
            }
        if (seen == expected)
            break;
        model.WaitForNews(std::chrono::milliseconds(20));
    } while (std::chrono::steady_clock::now() < deadline);
    return seen;
}
} // namespace

TEST(DeviceModelTest, ARecordOfOneInputUpdatesItAndKeepsTheOthers)
{
    CMonDeviceModel model;
    ASSERT_EQ(model.Start(), 0u);
    ASSERT_EQ(model.Watch(VIRTUAL_MOUSE_ID), 0u);
    winport::machine::MoveMouse(5, -3);
    ASSERT_TRUE(winport::machine::PressMouseButton(0));
    EXPECT_EQ(MouseOnceEqual(model, {5, -3, 1}), std::make_tuple(5, -3, 1u));
    // Only X moves: Y keeps its last movement, the button stays down.
    winport::machine::MoveMouse(7, 0);
    EXPECT_EQ(MouseOnceEqual(model, {7, -3, 1}), std::make_tuple(7, -3, 1u));
    model.Stop();
}

TEST(DeviceModelTest, APositionWithoutADeviceIsNotWatched)
{
    CMonDeviceModel model;
    ASSERT_EQ(model.Start(), 0u);
    EXPECT_EQ(model.Watch(5), KVHR_ERROR_NOT_FOUND);
    EXPECT_FALSE(model.IsWatched(5));
    EXPECT_TRUE(model.Snapshot().empty());
    model.Stop();
}
