// The virtual mouse through the exports: its records, its deliveries, and how switching the keyboard off
// and a missing callback affect it.
#include <gtest/gtest.h>

#include "VirtualTestSupport.h"

#include <dinput.h>

namespace machine = winport::machine;

namespace
{
class VirtualMouseTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(KvHRInitialize(), 0u); }
    void TearDown() override { EXPECT_EQ(KvHRUnInitialize(), 0u); }

    void PollMouseInto(ValueRecorder& recorder)
    {
        ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_MOUSE_ID, &ValueRecorder::Callback, &recorder), 0u);
        ASSERT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 1), 0u);
    }
};

std::vector<_stHidCapability> MouseCaps()
{
    _stHidCapability* caps = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(KvHRGetDeviceCapabilities(VIRTUAL_MOUSE_ID, &caps, &count), 0u);
    std::vector<_stHidCapability> out(caps, caps + count);
    EXPECT_EQ(KvHRFree(caps), 0); // a null list is freed as well
    return out;
}
} // namespace

TEST_F(VirtualMouseTest, ListsXYAndTheWheelAsRelativeAxesThenItsButtons)
{
    const auto caps = MouseCaps();
    ASSERT_EQ(caps.size(), 3u + 5u);
    const uint16_t axes[3] = {0x30, 0x31, 0x32};
    for (size_t i = 0; i < 3; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(caps[i].usagePage, 1);
        EXPECT_EQ(caps[i].usage, axes[i]);
        EXPECT_EQ(caps[i].isAbsolute, 0);
        EXPECT_EQ(caps[i].minValue, -32767);
        EXPECT_EQ(caps[i].maxValue, 32767);
        EXPECT_EQ(caps[i].index, 0u);
    }
    for (size_t j = 0; j < 5; ++j)
    {
        SCOPED_TRACE(j);
        EXPECT_EQ(caps[3 + j].usagePage, 9);
        EXPECT_EQ(caps[3 + j].usage, j + 1);
        EXPECT_EQ(caps[3 + j].minValue, 0);
        EXPECT_EQ(caps[3 + j].maxValue, 1);
    }

    // A mouse with eight buttons, the most the data format carries, lists all eight.
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    machine::SetMousePresent(true, 8);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(MouseCaps().size(), 3u + 8u);
}

TEST_F(VirtualMouseTest, WithoutAMouseThereAreNoRecordsAndNothingIsDelivered)
{
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    machine::SetMousePresent(false);
    ASSERT_EQ(KvHRInitialize(), 0u);

    LogCapture log;
    EXPECT_TRUE(MouseCaps().empty());
    // The size query answers "nothing needed" instead of a size: the failed check says so.
    ASSERT_EQ(log.CountContaining(W("ASSERT(hRes == ERROR_INSUFFICIENT_BUFFER) failed in \"KvHidRaw\"")), 1u);
    EXPECT_NE(log.Lines()[0].find(W("function KvHRGetDeviceCapabilities")), WString::npos);

    ValueRecorder mouse;
    ValueRecorder keys;
    PollMouseInto(mouse);
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    machine::MoveMouse(5, 5);
    EXPECT_FALSE(machine::PressMouseButton(0));
    ASSERT_TRUE(PassMouseTicks(keys));
    EXPECT_EQ(mouse.Count(), 0u);
}

TEST_F(VirtualMouseTest, MovementsWheelAndButtonsArriveAsSignedAxesAndButtonUsages)
{
    ValueRecorder mouse;
    ASSERT_TRUE(machine::PressMouseButton(0));
    machine::MoveMouse(-7, 3, -120);
    ASSERT_TRUE(machine::ReleaseMouseButton(0));
    PollMouseInto(mouse);
    ASSERT_TRUE(mouse.WaitForCount(5));

    const auto calls = mouse.Deliveries();
    ASSERT_EQ(calls.size(), 5u);
    for (const ValueRecorder::Delivery& call : calls)
    {
        EXPECT_EQ(call.values.size(), 1u);
        EXPECT_EQ(call.values.at(0).index, 0u);
    }
    // The left button: usage 1 on the button page.
    EXPECT_EQ(calls[0].values.at(0).usagePage, 9);
    EXPECT_EQ(calls[0].values.at(0).usage, 1);
    EXPECT_EQ(calls[0].values.at(0).value, 1u);
    // Moving left is a negative X.
    EXPECT_EQ(calls[1].values.at(0).usagePage, 1);
    EXPECT_EQ(calls[1].values.at(0).usage, 0x30);
    EXPECT_EQ(calls[1].values.at(0).scaledValue, -7);
    EXPECT_EQ(calls[1].values.at(0).value, static_cast<uint32_t>(-7));
    EXPECT_EQ(calls[2].values.at(0).usage, 0x31);
    EXPECT_EQ(calls[2].values.at(0).scaledValue, 3);
    // The wheel is Z.
    EXPECT_EQ(calls[3].values.at(0).usagePage, 1);
    EXPECT_EQ(calls[3].values.at(0).usage, 0x32);
    EXPECT_EQ(calls[3].values.at(0).scaledValue, -120);
    EXPECT_EQ(calls[4].values.at(0).usage, 1);
    EXPECT_EQ(calls[4].values.at(0).scaledValue, 0);

    // The fifth button is usage 5.
    ASSERT_TRUE(machine::PressMouseButton(4));
    ASSERT_TRUE(mouse.WaitForCount(6));
    EXPECT_EQ(mouse.Deliveries()[5].values.at(0).usage, 5);
}

TEST_F(VirtualMouseTest, SwitchingTheKeyboardOffStopsTheMouseTimerTooUntilTheMouseIsSwitchedOnAgain)
{
    ValueRecorder mouse;
    PollMouseInto(mouse);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    EXPECT_EQ(PollTimers(), 2);

    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 0), 0u);
    EXPECT_EQ(PollTimers(), 0);
    machine::MoveMouse(4, 0);

    // The mouse's polling is still on: switching it on again starts a new timer, whose first tick reads
    // the movement made while no timer ran.
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 1), 0u);
    EXPECT_EQ(PollTimers(), 1);
    ASSERT_TRUE(mouse.WaitForCount(1));
    EXPECT_EQ(mouse.Deliveries()[0].values.at(0).scaledValue, 4);

    // And the other way round: switching the mouse off stops the keyboard's timer.
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    EXPECT_EQ(PollTimers(), 2);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 0), 0u);
    EXPECT_EQ(PollTimers(), 0);
}

TEST_F(VirtualMouseTest, PollingWithoutACallbackDropsEventsSoNothingOldArrivesLater)
{
    ValueRecorder keys;
    ValueRecorder mouse;
    PollMouseInto(mouse);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u); // no keyboard callback yet
    ASSERT_TRUE(machine::PressKey(DIK_A));
    ASSERT_TRUE(PassKeyboardTicks(mouse));

    // The mouse drops its movement the same way while it has no callback.
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_MOUSE_ID, nullptr, nullptr), 0u);
    machine::MoveMouse(-50, 0);
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    ASSERT_TRUE(PassMouseTicks(keys));

    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_MOUSE_ID, &ValueRecorder::Callback, &mouse), 0u);
    const size_t mouseBefore = mouse.Count();
    const size_t keysBefore = keys.Count();
    ASSERT_TRUE(machine::ReleaseKey(DIK_A));
    machine::MoveMouse(9, 0);
    ASSERT_TRUE(mouse.WaitForCount(mouseBefore + 1));
    ASSERT_TRUE(keys.WaitForCount(keysBefore + 1));

    size_t aCalls = 0;
    for (const ValueRecorder::Delivery& call : keys.Deliveries())
    {
        if (call.values.at(0).usage != DIK_A)
            continue;
        ++aCalls;
        EXPECT_EQ(call.values.at(0).value, 0u); // the release; the press went while nobody listened
    }
    EXPECT_EQ(aCalls, 1u);
    const auto mouseCalls = mouse.Deliveries();
    ASSERT_EQ(mouseCalls.size(), mouseBefore + 1);
    EXPECT_EQ(mouseCalls.back().values.at(0).scaledValue, 9);
}

// A mouse with more axes and buttons than the records carry: twelve axis records (X, Y, the wheel, then
// nine rows without a usage) and eight buttons; a button beyond the eighth has no place in the data format
// and is never delivered.
TEST(VirtualLargeMouseTest, TwelveAxesAndEightButtonsAreListedAndFurtherButtonsDeliverNothing)
{
    machine::SetMousePresent(true, 12, 14);
    ASSERT_EQ(KvHRInitialize(), 0u);
    const auto caps = MouseCaps();
    ASSERT_EQ(caps.size(), 12u + 8u);
    for (size_t i = 0; i < 12; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(caps[i].usagePage, i < 3 ? 1 : 0);
        EXPECT_EQ(caps[i].usage, i < 3 ? 0x30 + i : 0u);
        EXPECT_EQ(caps[i].minValue, -32767);
        EXPECT_EQ(caps[i].maxValue, 32767);
    }
    for (size_t j = 0; j < 8; ++j)
    {
        EXPECT_EQ(caps[12 + j].usagePage, 9);
        EXPECT_EQ(caps[12 + j].usage, j + 1);
    }

    ValueRecorder buttons;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_MOUSE_ID, &ValueRecorder::Callback, &buttons),
              0u);
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 1), 0u);
    ASSERT_TRUE(machine::PressMouseButton(9));
    ASSERT_TRUE(machine::PressMouseButton(7));
    ASSERT_TRUE(buttons.WaitForCount(1));
    EXPECT_EQ(buttons.Deliveries().at(0).values.at(0).usagePage, 9);
    EXPECT_EQ(buttons.Deliveries().at(0).values.at(0).usage, 8)
        << "the tenth button's press came first and was not delivered";
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_MOUSE_ID, 0), 0u);
    EXPECT_EQ(KvHRUnInitialize(), 0u);
}
