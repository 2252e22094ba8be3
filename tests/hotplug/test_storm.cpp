// The hot-plug storm: devices plugged and unplugged for a fixed stretch of wall time while application
// threads list, name, describe and poll them and set their callbacks.
//
// The mix of one round: three devices offered from a pool of 20 (so positions rotate through all 64):
//   - the first plugged with its installation pending, finished once the round's others are plugged (in
//     every fourth round it is left pending past the arrival's first checks before it finishes);
//   - the other two plugged installed;
//   - in every third round a fourth device plugged and unplugged at once, mostly before any take-in (a
//     removal for a device the table never took in; a late background update of the round before may
//     still take it in, and then announces its removal too);
// then, once the three are announced, they leave: one orderly, two by surprise. An orderly removal of a
// polled device costs up to the reader's 1000 ms wait slice, so only one device per round leaves orderly,
// which keeps a round below about 1.5 s. The storm runs 25 s of wall time (longer, up to 75 s, until all 64
// positions were used), within the bound of about 90 s per build.
#include <gtest/gtest.h>

#include "HotplugTestSupport.h"

#include <atomic>
#include <cstdio>
#include <random>
#include <set>
#include <thread>

using namespace hotplug;

namespace
{
const auto kStormWallTime = std::chrono::seconds(25);
// A loaded machine makes fewer rounds: the storm goes on past its wall time until every position was used.
const auto kStormLongestTime = std::chrono::seconds(75);
const int kPoolSize = 20;
const int kThreads = 3;

// Follows the table from the announcements: a position must be free when added and taken when removed.
class Ledger
{
public:
    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        Ledger* self = static_cast<Ledger*>(context);
        std::lock_guard<std::mutex> guard(self->m_mutex);
        if (value >= 64)
        {
            self->m_faults.push_back("event for position " + std::to_string(value));
            return;
        }
        bool& taken = self->m_taken[value];
        if (event == NOTIF_DEVICE_ADDED)
        {
            if (taken)
                self->m_faults.push_back("added twice at " + std::to_string(value));
            taken = true;
            self->m_used.insert(value);
            ++self->m_added;
        }
        else if (event == NOTIF_DEVICE_REMOVED)
        {
            if (!taken)
                self->m_faults.push_back("removed without an addition at " + std::to_string(value));
            taken = false;
            ++self->m_removed;
        }
    }
    int Added()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_added;
    }
    int Removed()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_removed;
    }
    size_t PositionsUsed()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_used.size();
    }
    std::vector<std::string> Faults()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_faults;
    }

private:
    std::mutex m_mutex;
    bool m_taken[64] = {};
    std::set<uint32_t> m_used;
    int m_added = 0;
    int m_removed = 0;
    std::vector<std::string> m_faults;
};

std::atomic<uint64_t> deliveries{0};

void KVHR_CALL CountValues(void*, const _stHidValue*, uint32_t)
{
    ++deliveries;
}

// One application thread: every export a device's user calls, on whatever the table holds now.
void UseDevices(std::atomic<bool>& stop, unsigned seed, std::atomic<uint64_t>& calls)
{
    std::mt19937 random(seed);
    while (!stop)
    {
        uint32_t* list = nullptr;
        uint32_t count = 0;
        if (KvHRGetDevicesList(&list, &count) != 0)
            continue;
        for (uint32_t i = 0; i < count; ++i)
        {
            const uint32_t pos = list[i];
            KvHRWChar* name = nullptr;
            if (KvHRGetDeviceName(pos, &name) == 0)
                KvHRFree(name);
            _stHidCapability* caps = nullptr;
            uint32_t capCount = 0;
            if (KvHRGetDeviceCapabilities(pos, &caps, &capCount) == 0)
                KvHRFree(caps);
            KvHRSetReadDeviceValuesCallback(pos, random() % 4 ? &CountValues : nullptr, nullptr);
            KvHRSetPolling(pos, random() % 3 ? 1 : 0);
            ++calls;
        }
        KvHRFree(list);
    }
}

// Keeps the plugged devices sending reports.
void SendReports(std::atomic<bool>& stop, std::mutex& mutex, std::set<uint32_t>& plugged)
{
    uint8_t x = 0;
    while (!stop)
    {
        std::vector<uint32_t> ids;
        {
            std::lock_guard<std::mutex> guard(mutex);
            ids.assign(plugged.begin(), plugged.end());
        }
        for (uint32_t id : ids)
            Send(id, {0x00, x, x, 0x00, x, 0x00});
        ++x;
        std::this_thread::yield();
    }
}

// Waits for the ledger to reach a count; false when the deadline passes (a lost event or a hang).
template <typename Count> bool Reach(Count count, int target)
{
    return WaitUntil([&] { return count() >= target; }, std::chrono::seconds(20));
}
} // namespace

TEST(HotplugStormTest, DevicesComeAndGoUnderLoadAndEveryAdditionIsMatchedByOneRemoval)
{
    LogCapture log;
    Ledger ledger;
    const ULONG blocksBefore = DllAlloc::LiveBlocks(nullptr);
    KvHRSetNotificationHandler(&Ledger::Handler, &ledger);
    ASSERT_EQ(KvHRInitialize(), 0u);

    std::atomic<bool> stop{false};
    std::atomic<uint64_t> calls{0};
    std::mutex pluggedMutex;
    std::set<uint32_t> plugged;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back(UseDevices, std::ref(stop), 1234u + t, std::ref(calls));
    threads.emplace_back(SendReports, std::ref(stop), std::ref(pluggedMutex), std::ref(plugged));

    std::mt19937 random(42);
    int round = 0, orderly = 0, surprise = 0, neverTakenIn = 0, installs = 0, expectedAdded = 0;
    const auto start = std::chrono::steady_clock::now();
    auto goesOn = [&]
    {
        const auto now = std::chrono::steady_clock::now();
        return now < start + kStormWallTime ||
               (ledger.PositionsUsed() < 64 && now < start + kStormLongestTime);
    };
    auto description = [&](int k)
    {
        HidDeviceDescription d =
            Description(JoystickDescriptor(), nullptr, 0x2000, static_cast<USHORT>(k % kPoolSize));
        return d;
    };
    for (int offered = 0; goesOn(); ++round)
    {
        uint32_t ids[3];
        ids[0] = Plug(Installing(description(offered++)));
        ++installs;
        ids[1] = Plug(description(offered++));
        ids[2] = Plug(description(offered++));
        {
            std::lock_guard<std::mutex> guard(pluggedMutex);
            plugged.insert(ids, ids + 3);
        }
        if (round % 3 == 0)
        {
            const uint32_t passing = Plug(description(offered++));
            Machine::Instance().UnplugDevice(passing, random() % 2 ? Removal::Orderly : Removal::Surprise);
            ++neverTakenIn;
        }
        if (round % 4 == 0)
            WaitUntil([] { return false; },
                      std::chrono::milliseconds(250)); // the arrivals' first checks pass
        Machine::Instance().FinishInstall(ids[0]);
        expectedAdded += 3;
        ASSERT_TRUE(Reach([&] { return ledger.Added(); }, expectedAdded)) << "round " << round;

        const int leaving = static_cast<int>(random() % 3);
        for (int i = 0; i < 3; ++i)
        {
            {
                std::lock_guard<std::mutex> guard(pluggedMutex);
                plugged.erase(ids[i]);
            }
            const bool isOrderly = i == leaving;
            Machine::Instance().UnplugDevice(ids[i], isOrderly ? Removal::Orderly : Removal::Surprise);
            ++(isOrderly ? orderly : surprise);
        }
        ASSERT_TRUE(Reach([&] { return ledger.Removed(); }, expectedAdded)) << "round " << round;
    }
    stop = true;
    for (std::thread& t : threads)
        t.join();
    // The background updates of the last removals have run (each logs its enumeration) before the stop.
    KvHRUnInitialize();

    std::printf("storm: %d rounds, %d devices added and removed (%d orderly, %d by surprise), %d installs "
                "pending, %d plugged and unplugged at once, %zu positions used, %llu application calls, "
                "%llu deliveries\n",
                round, ledger.Added(), orderly, surprise, installs, neverTakenIn, ledger.PositionsUsed(),
                static_cast<unsigned long long>(calls.load()),
                static_cast<unsigned long long>(deliveries.load()));
    EXPECT_EQ(ledger.Faults(), std::vector<std::string>{});
    EXPECT_EQ(ledger.Added(), ledger.Removed());
    EXPECT_EQ(ledger.PositionsUsed(), 64u);
    EXPECT_EQ(DevicesList(), std::vector<uint32_t>{});
    EXPECT_EQ(log.CountContaining(u"gave up waiting"), 0u);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), blocksBefore);
    // The only failed checks a storm may log are those of a removal that both roads saw.
    for (const WString& line : log.Lines())
        if (line.find(u"ASSERT(") != WString::npos)
            EXPECT_TRUE(line.find(u"FindDeviceByNotificationHandle") != WString::npos ||
                        line.find(u"CKvHidDeviceMgmt::HandleDeviceChange") != WString::npos ||
                        line.find(u"NotifWndProc") != WString::npos)
                << Narrow(line);
}
