// Devices at the edges of what the parser accepts, taken in while the library runs and polled: none may
// crash or hang the library or deliver values for a report the device did not send. A flooding device
// must not take the latency of a normal one next to it.
#include <gtest/gtest.h>

#include "HotplugTestSupport.h"

#include <algorithm>
#include <thread>

using namespace hotplug;

namespace
{
typedef std::vector<uint8_t> Bytes;

Bytes Collection(const Bytes& body)
{
    Bytes d = {0x05, 0x01, 0x09, 0x04, 0xA1, 0x01};
    d.insert(d.end(), body.begin(), body.end());
    d.push_back(0xC0);
    return d;
}

// Takes the device in, polls it into values and returns its position.
uint32_t TakeInPolled(KvNotificationRecorder& recorder, uint32_t id, ValueRecorder& values,
                      size_t expectedAdded)
{
    EXPECT_NE(id, 0u) << "the parser accepts the descriptor";
    EXPECT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, expectedAdded));
    const uint32_t pos = recorder.Positions(NOTIF_DEVICE_ADDED).back();
    EXPECT_EQ(KvHRSetReadDeviceValuesCallback(pos, &ValueRecorder::Callback, &values), 0u);
    EXPECT_EQ(KvHRSetPolling(pos, 1), 0u);
    return pos;
}
} // namespace

TEST(ExtremeDevicesTest, DevicesAtTheParsersEdgesAreTakenInPolledAndRemovedCleanly)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    size_t added = 0;

    // No inputs at all: one output byte. Its reader may end at once on its first read; either way it ends
    // once polling is off, having delivered no value.
    {
        ValueRecorder values;
        const uint32_t id = Plug(Description(
            Collection({0x09, 0x30, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x01, 0x91, 0x02})));
        ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, ++added));
        const uint32_t pos = recorder.Positions(NOTIF_DEVICE_ADDED).back();
        EXPECT_TRUE(Capabilities(pos).empty());
        const int threads = RunningThreads();
        EXPECT_EQ(KvHRSetReadDeviceValuesCallback(pos, &ValueRecorder::Callback, &values), 0u);
        EXPECT_EQ(KvHRSetPolling(pos, 1), 0u);
        EXPECT_EQ(KvHRSetPolling(pos, 0), 0u);
        EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == threads; }));
        for (const auto& d : values.Deliveries())
            EXPECT_TRUE(d.values.empty());
        ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Surprise));
        ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_REMOVED, added));
    }
    // A reversed logical range, and a value whose minimum equals its maximum with no buttons.
    for (const Bytes& descriptor :
         {ReversedRangeDescriptor(),
          Collection({0x09, 0x30, 0x15, 0x05, 0x25, 0x05, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02})})
    {
        ValueRecorder values;
        const uint32_t id = Plug(Description(descriptor));
        const uint32_t pos = TakeInPolled(recorder, id, values, ++added);
        ASSERT_EQ(Capabilities(pos).size(), 1u);
        ASSERT_TRUE(Send(id, {0x00, 0x7F}));
        ASSERT_TRUE(values.WaitForCount(1));
        EXPECT_EQ(ValueOf(values.Last().values, 1, 0x30), 0x7F);
        ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Surprise));
        ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_REMOVED, added));
    }
    // A 4096-byte report: 4095 vendor bytes after the report ID byte.
    {
        ValueRecorder values;
        const Bytes descriptor = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x09, 0x02, 0x15, 0x00,
                                  0x26, 0xFF, 0x00, 0x75, 0x08, 0x96, 0xFF, 0x0F, 0x81, 0x02, 0xC0};
        const uint32_t id = Plug(Description(descriptor));
        TakeInPolled(recorder, id, values, ++added);
        Bytes report(4096, 0x5A);
        report[0] = 0;
        ASSERT_TRUE(Send(id, report));
        ASSERT_TRUE(values.WaitForCount(1));
        ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Orderly));
        ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_REMOVED, added));
    }
    // 255 report IDs, an X axis in each: a report of one ID changes only its own value.
    {
        Bytes body;
        for (int reportId = 1; reportId <= 255; ++reportId)
            body.insert(body.end(), {0x85, static_cast<uint8_t>(reportId), 0x09, 0x30, 0x15, 0x00, 0x26, 0xFF,
                                     0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02});
        ValueRecorder values;
        const uint32_t id = Plug(Description(Collection(body)));
        const uint32_t pos = TakeInPolled(recorder, id, values, ++added);
        EXPECT_EQ(Capabilities(pos).size(), 255u);
        ASSERT_TRUE(Send(id, {0x07, 0x42}));
        ASSERT_TRUE(values.WaitForCount(1));
        const auto last = values.Last().values;
        ASSERT_EQ(last.size(), 255u);
        for (const _stHidValue& v : last)
            EXPECT_EQ(v.value, v.index == 6 ? 0x42u : 0u) << "index " << v.index;
        ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Surprise));
        ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_REMOVED, added));
    }
    // 300 buttons in one range.
    {
        ValueRecorder values;
        const uint32_t id = Plug(Description(
            Collection({0x05, 0x09, 0x19, 0x01, 0x2A, 0x2C, 0x01, 0x15, 0x00, 0x25, 0x01, 0x75,
                        0x01, 0x96, 0x2C, 0x01, 0x81, 0x02, 0x75, 0x04, 0x95, 0x01, 0x81, 0x03})));
        const uint32_t pos = TakeInPolled(recorder, id, values, ++added);
        EXPECT_EQ(Capabilities(pos).size(), 300u);
        Bytes report(39, 0);
        report[38] = 0x08; // button 300
        ASSERT_TRUE(Send(id, report));
        ASSERT_TRUE(values.WaitForCount(1));
        const auto last = values.Last().values;
        ASSERT_EQ(last.size(), 300u);
        EXPECT_EQ(ValueOf(last, 9, 300), 1);
        EXPECT_EQ(ValueOf(last, 9, 299), 0);
        ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Surprise));
        ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_REMOVED, added));
    }
    EXPECT_EQ(DevicesList(), std::vector<uint32_t>{});
    EXPECT_EQ(log.CountContaining(u"gave up waiting"), 0u);
}

TEST(ExtremeDevicesTest, AFloodingDeviceLeavesANormalOneItsLatency)
{
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    ValueRecorder floodValues, normalValues;
    const uint32_t flood = Plug(Description(JoystickDescriptor()));
    TakeInPolled(recorder, flood, floodValues, 1);
    const uint32_t normal = Plug(Description(JoystickDescriptor(), nullptr, 0x1111, 0x2222));
    TakeInPolled(recorder, normal, normalValues, 2);

    std::atomic<bool> stop{false};
    std::thread flooder(
        [&]
        {
            for (uint8_t x = 0; !stop; ++x)
                Send(flood, {0x00, x, x, 0x00, x, 0x00});
        });
    std::vector<std::chrono::milliseconds> latencies;
    for (uint8_t sample = 1; sample <= 20; ++sample)
    {
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_TRUE(Send(normal, {0x00, 0x00, sample, 0x00, 0x00, 0x00}));
        ASSERT_TRUE(WaitUntil([&] { return ValueOf(normalValues.Last().values, 1, 0x30) == sample; }));
        latencies.push_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - sent));
    }
    stop = true;
    flooder.join();
    std::sort(latencies.begin(), latencies.end());
    std::printf("normal device next to a flood: median %lld ms, worst %lld ms, %zu flood deliveries\n",
                static_cast<long long>(latencies[10].count()),
                static_cast<long long>(latencies.back().count()), floodValues.Count());
    EXPECT_LT(latencies[10], std::chrono::milliseconds(200));
    EXPECT_LT(latencies.back(), std::chrono::milliseconds(1000));
    EXPECT_GT(floodValues.Count(), 20u);
    StopReader(0);
    StopReader(1);
}
