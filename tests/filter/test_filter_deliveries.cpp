// The input of filtered devices on its way to the values callbacks: slots, polling and deliveries.
#include <gtest/gtest.h>

#include "KvFilterTestSupport.h"
#include "KvTestSupport.h"

namespace
{
class FilterDeliveryTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(KvHRInitialize(), 0u); }
    void TearDown() override
    {
        KvHRUnInitialize();
        EXPECT_EQ(KvSimService::LiveBlocks(), 0u) << "a block of the service was not returned";
    }

    // Pushes the input and waits until the service has handed it to the library.
    static void Push(DWORD serviceId, const _stHidInputData& input)
    {
        KvSimService::PushInput(serviceId, input);
        ASSERT_TRUE(KvSimService::WaitIdle(10000));
    }
};

} // namespace

// ---- Deliveries ----

TEST_F(FilterDeliveryTest, EveryInputOfTheDeviceIsDeliveredEachTimeInTheOrderOfItsCapabilities)
{
    ValueRecorder recorder;
    Subscribe(0, Gamepad(), recorder);
    Push(0, GamepadInput());
    Push(0, NoInput());
    ASSERT_EQ(recorder.Count(), 2u);
    const auto deliveries = recorder.Deliveries();
    EXPECT_NE(deliveries[0].thread, std::this_thread::get_id());

    const std::vector<_stHidValue>& first = deliveries[0].values;
    ASSERT_EQ(first.size(), 15u);
    for (uint16_t b = 0; b < 12; ++b)
    {
        EXPECT_EQ(first[b].usage, b + 1);
        EXPECT_EQ(first[b].usagePage, 9);
        EXPECT_EQ(first[b].index, 0u);
    }
    EXPECT_EQ(first[0].value, 1u);
    EXPECT_EQ(first[1].value, 0u); // unchanged inputs are delivered too
    // A button's byte is delivered unchanged, not reduced to 1.
    EXPECT_EQ(first[11].value, 128u);
    EXPECT_EQ(first[11].scaledValue, 128);
    EXPECT_EQ(first[12].usage, 0x30);
    EXPECT_EQ(first[12].value, 200u);
    EXPECT_EQ(first[13].usage, 0x31);
    EXPECT_EQ(first[13].value, 0xFFFFFF80u);
    EXPECT_EQ(first[13].scaledValue, -128);
    EXPECT_EQ(first[14].usage, 0x39);
    EXPECT_EQ(first[14].usagePage, 1);
    EXPECT_EQ(first[14].value, 3u);

    ASSERT_EQ(deliveries[1].values.size(), 15u);
    for (const _stHidValue& v : deliveries[1].values)
        EXPECT_EQ(v.value, 0u);
}

TEST_F(FilterDeliveryTest, AllElevenAxesAndTheHatsAreDeliveredWithTheirUsagesAndIndexes)
{
    std::vector<AxisRange> axes;
    for (unsigned k = 0; k < 11; ++k)
        axes.push_back({k, 0, 100});
    ValueRecorder recorder;
    Subscribe(0, Describe(0, axes, {{0, 7}, {0, 7}}), recorder);
    _stHidInputData input = NoInput();
    for (unsigned k = 0; k < 11; ++k)
        input.axes[k].value = 10 + k;
    input.hats[1].value = 5;
    Push(0, input);
    ASSERT_EQ(recorder.Count(), 1u);
    const auto values = recorder.Deliveries()[0].values;
    ASSERT_EQ(values.size(), 13u);
    const uint16_t usages[] = {0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0xBB, 0x36, 0x36, 0x36, 0x36};
    for (unsigned k = 0; k < 11; ++k)
    {
        SCOPED_TRACE(k);
        EXPECT_EQ(values[k].usage, usages[k]);
        EXPECT_EQ(values[k].usagePage, k == 6 ? 2 : 1);
        EXPECT_EQ(values[k].index, k >= 7 ? k - 7 : 0u);
        EXPECT_EQ(values[k].value, 10 + k);
    }
    EXPECT_EQ(values[12].index, 1u);
    EXPECT_EQ(values[12].value, 5u);
}

TEST_F(FilterDeliveryTest, PollingOffOrNoCallbackDropsInputAndPollingOnAgainDeliversTheNextInput)
{
    ValueRecorder recorder;
    Subscribe(0, Gamepad(), recorder);
    KvHRSetPolling(FilteredId(0), 0);
    Push(0, GamepadInput());
    EXPECT_EQ(recorder.Count(), 0u);

    EXPECT_EQ(KvHRSetPolling(FilteredId(0), 1), 0u);
    Push(0, GamepadInput());
    EXPECT_EQ(recorder.Count(), 1u);

    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(0), nullptr, nullptr), 0u);
    Push(0, GamepadInput());
    EXPECT_EQ(recorder.Count(), 1u);

    // Set again, the callback takes over the slot and its polling flag.
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(0), &ValueRecorder::Callback, &recorder), 0u);
    Push(0, GamepadInput());
    EXPECT_EQ(recorder.Count(), 2u);
}

TEST_F(FilterDeliveryTest, InputForADeviceNobodyPollsOrWithoutDataReachesNoCallback)
{
    LogCapture log;
    ValueRecorder polled;
    ValueRecorder notPolled;
    Subscribe(0, Gamepad(), polled);
    KvSimService::AddFilteredDevice(1, nullptr, Gamepad());
    KvSimService::AddFilteredDevice(2, nullptr, Gamepad());
    KvHRSetReadDeviceValuesCallback(FilteredId(1), &ValueRecorder::Callback, &notPolled);
    // Polling asked for before any callback finds no slot and is forgotten.
    EXPECT_EQ(KvHRSetPolling(FilteredId(2), 1), 0u);
    KvHRSetReadDeviceValuesCallback(FilteredId(2), &ValueRecorder::Callback, &notPolled);

    KvSimService::PushInput(1, GamepadInput());
    KvSimService::PushInput(2, GamepadInput());
    KvSimService::PushInput(7, GamepadInput());
    KvSimService::PostNotification(enDeviceInput, 0, nullptr, 0);
    Push(0, GamepadInput());
    EXPECT_EQ(notPolled.Count(), 0u);
    EXPECT_EQ(polled.Count(), 1u);
    EXPECT_EQ(log.CountContaining(W("ASSERT(input != nullptr) failed in \"KvHidFilterMgmt\"")), 1u);
    EXPECT_EQ(log.CountContaining(W(" function CKvHidFilterMgmt::ParseDeviceInput")), 1u);
}

TEST_F(FilterDeliveryTest, DeliveriesFollowTheDescriptionCopiedWhenTheCallbackWasSet)
{
    ValueRecorder recorder;
    Subscribe(0, Gamepad(), recorder);
    KvSimService::AddFilteredDevice(0, nullptr, Describe(2)); // the service's description changes
    Push(0, GamepadInput());
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_EQ(recorder.Deliveries()[0].values.size(), 15u);

    // Setting the callback again takes a fresh copy.
    KvHRSetReadDeviceValuesCallback(FilteredId(0), &ValueRecorder::Callback, &recorder);
    Push(0, GamepadInput());
    ASSERT_EQ(recorder.Count(), 2u);
    EXPECT_EQ(recorder.Deliveries()[1].values.size(), 2u);
}

// ---- Callbacks and slots ----

TEST_F(FilterDeliveryTest, SixteenDevicesGetSlotsTheSeventeenthIsRefusedAndAClearedSlotIsKept)
{
    LogCapture log;
    ValueRecorder recorder;
    for (DWORD id = 0; id <= MAX_FILTERED_DEVICES; ++id)
        KvSimService::AddFilteredDevice(100 + id, nullptr, Describe(1));
    for (DWORD id = 0; id < MAX_FILTERED_DEVICES; ++id)
        EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(100 + id), &ValueRecorder::Callback, &recorder),
                  0u);
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(116), &ValueRecorder::Callback, &recorder),
              KVHR_ERROR_INSUFFICIENT_BUFFER);
    ASSERT_EQ(log.CountContaining(W("ASSERT(pos != -1) failed in \"KvHidFilterMgmt\"")), 1u);
    EXPECT_EQ(log.CountContaining(W(" function CKvHidFilterMgmt::SetReadDeviceValuesCallback")), 1u);

    // Clearing a callback keeps the slot: the seventeenth device is still refused.
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(105), nullptr, nullptr), 0u);
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(116), &ValueRecorder::Callback, &recorder),
              KVHR_ERROR_INSUFFICIENT_BUFFER);
    // A device that never had a slot cannot be cleared.
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(116), nullptr, nullptr), KVHR_ERROR_NOT_FOUND);

    KvHRSetPolling(FilteredId(115), 1);
    Push(115, NoInput());
    EXPECT_EQ(recorder.Count(), 1u);
}

TEST_F(FilterDeliveryTest, AFailedCapabilitiesQueryStoresTheCallbackWhichGetsEmptyDeliveries)
{
    LogCapture log;
    ValueRecorder recorder;
    KvSimService::AddFilteredDevice(0, nullptr, Gamepad());
    KvSimService::SetCallStatus(KvSimCall::GetSelectedDevicePhysicalCapabilities, 31);
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(0), &ValueRecorder::Callback, &recorder), 31u);
    const WString verify = W("VERIFY(hRes) failed in \"KvHidFilterMgmt\" at line ");
    ASSERT_EQ(log.CountContaining(verify), 1u);
    EXPECT_EQ(
        log.CountContaining(W(" function CKvHidFilterMgmt::SetReadDeviceValuesCallback HRESULT:0x0000001f")),
        1u);
    EXPECT_EQ(log.CountContaining(W("ASSERT(pData) failed in \"KvHidFilterMgmt\"")), 1u);

    KvHRSetPolling(FilteredId(0), 1);
    Push(0, GamepadInput());
    ASSERT_EQ(recorder.Count(), 1u);
    EXPECT_TRUE(recorder.Deliveries()[0].values.empty());
}

// The filter manager's start frees every slot; a second start without a stop changes nothing.
TEST_F(FilterDeliveryTest, AStartAfterAStopFreesEverySlotAndASecondStartKeepsThem)
{
    ValueRecorder old;
    for (DWORD id = 0; id < MAX_FILTERED_DEVICES; ++id)
        Subscribe(id, Describe(1), old);
    EXPECT_EQ(KvHRInitialize(), KVHR_ERROR_ALREADY_INITIALIZED);
    Push(3, NoInput());
    EXPECT_EQ(old.Count(), 1u);

    KvHRUnInitialize();
    ASSERT_EQ(KvHRInitialize(), 0u);
    Push(3, NoInput());
    EXPECT_EQ(old.Count(), 1u) << "a slot of the previous start delivered";
    ValueRecorder fresh;
    for (DWORD id = 0; id < MAX_FILTERED_DEVICES; ++id)
    {
        KvSimService::AddFilteredDevice(50 + id, nullptr, Describe(1));
        EXPECT_EQ(KvHRSetReadDeviceValuesCallback(FilteredId(50 + id), &ValueRecorder::Callback, &fresh), 0u);
    }
}
