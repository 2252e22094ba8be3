// The three-source storm: for a fixed stretch of wall time, at once,
//   - physical devices are plugged (every third round with its installation pending) and unplugged, one
//     orderly and one by surprise per round, while a sender keeps the plugged ones reporting;
//   - the filtering service starts and stops its script, filters one to four devices of a pool of twelve
//     (one of them leaving mid-script), and pushes their input on two notification threads;
//   - the machine's keyboard types, its mouse moves and clicks, and now and then both lose their acquisition;
//   - three application threads list, name and describe the devices of all three sources, set and clear
//     callbacks and switch polling on and off; the notification handler and the values callbacks call the
//     library back.
// Every callback context is a subscription with a closing point after which the library documents that no
// delivery starts: a physical device's removal announced; a filtered device's polling switched off or its
// callback cleared or replaced, from outside callbacks; the virtual devices' polling switched off (either
// device's stops both timers). The filtered and virtual calls also wait for a running delivery, so none of
// theirs may still be inside the callback once they return. One application thread at a time changes a
// filtered device or the virtual pair, so a closing point is not undone by another thread switching the same
// callback on again. The storm runs 25 s; a watchdog ends the process with a message if the whole test takes
// more than 90 s.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"
#include "KvFilterTestSupport.h"
#include "StormLedger.h"
#include "StormSubscriptions.h"
#include "StormWatchdog.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>
#include <set>
#include <sstream>
#include <thread>

using namespace devtest;
using winport::machine::Removal;

namespace
{
const auto kStormWallTime = std::chrono::seconds(25);
const auto kBound = std::chrono::seconds(90);
const auto kEventDeadline = std::chrono::seconds(20);
const int kPhysicalPool = 20;
const int kFilteredPool = 12;
const uint32_t kFirstFilteredId = 0x10;
const int kApplicationThreads = 3;

std::atomic<uint64_t> g_callsFromCallbacks{0};
std::atomic<uint64_t> g_physicalDeliveries{0};

// A callback that takes a while, as an application's may: a closing call that does not wait for the running
// delivery then returns while the delivery is still inside, where the test sees it.
void Work(std::chrono::microseconds length)
{
    const auto end = std::chrono::steady_clock::now() + length;
    while (std::chrono::steady_clock::now() < end)
    {
    }
}

void KVHR_CALL PhysicalValues(void* context, const _stHidValue*, uint32_t)
{
    Subscription* s = static_cast<Subscription*>(context);
    s->Enter();
    if (++g_physicalDeliveries % 64 == 0)
    {
        uint32_t* list = nullptr;
        uint32_t count = 0;
        if (KvHRGetDevicesList(&list, &count) == 0)
            KvHRFree(list);
        ++g_callsFromCallbacks;
    }
    s->Leave();
}

void KVHR_CALL FilteredValues(void* context, const _stHidValue*, uint32_t)
{
    Subscription* s = static_cast<Subscription*>(context);
    s->Enter();
    if (s->deliveries % 64 == 0)
    {
        KvHRWChar* name = nullptr;
        if (KvHRGetDeviceName(FilteredId(s->id), &name) == 0)
            KvHRFree(name);
        ++g_callsFromCallbacks;
    }
    Work(std::chrono::microseconds(100));
    s->Leave();
}

void KVHR_CALL VirtualValues(void* context, const _stHidValue* values, uint32_t count)
{
    Subscription* s = static_cast<Subscription*>(context);
    s->Enter();
    if (count > 0 && s->deliveries % 16 == 0)
    {
        const KvHRWChar* name = nullptr;
        KvHRDirectInputGetVirtualKeyboardBtnsName(values[0].usage, &name);
        ++g_callsFromCallbacks;
    }
    Work(std::chrono::microseconds(20));
    s->Leave();
}

// A filtered device's current subscription, changed by one application thread at a time.
struct FilteredOwner
{
    std::mutex mutex;
    Subscription* current = nullptr;
};

struct StormState
{
    StormSubscriptions subscriptions;
    StormLedger ledger{subscriptions};
    std::atomic<bool> stop{false};

    std::mutex faultsMutex;
    std::vector<std::string> faults;
    void Fail(const std::string& fault)
    {
        {
            std::lock_guard<std::mutex> guard(faultsMutex);
            faults.push_back(fault);
        }
        stop = true;
    }

    std::mutex pluggedMutex;
    std::set<uint32_t> plugged;

    std::array<FilteredOwner, kFilteredPool> filtered;
    std::mutex virtualMutex;
    std::vector<Subscription*> virtualOpen;

    std::atomic<uint64_t> physicalRounds{0}, orderly{0}, surprise{0}, installs{0}, reportsSent{0};
    std::atomic<uint64_t> serviceRounds{0}, scriptNotifications{0}, inputsPushed{0}, filteredLeftMidScript{0};
    std::atomic<uint64_t> desktopEvents{0}, acquisitionsLost{0};
    std::atomic<uint64_t> applicationCalls{0};
};

HidDeviceDescription PoolDevice(int k)
{
    return Description(JoystickDescriptor(), nullptr, 0x2000, static_cast<USHORT>(k % kPhysicalPool));
}

// Two devices a round: announced, reporting for a moment, then gone (one orderly, one by surprise).
void PhysicalRounds(StormState& st)
{
    std::mt19937 random(7);
    int offered = 0, expected = 0;
    while (!st.stop)
    {
        const bool installing = st.physicalRounds % 3 == 0;
        HidDeviceDescription first = PoolDevice(offered++);
        first.installPending = installing;
        const uint32_t ids[2] = {Plug(first), Plug(PoolDevice(offered++))};
        if (installing)
        {
            Machine::Instance().FinishInstall(ids[0]);
            ++st.installs;
        }
        {
            std::lock_guard<std::mutex> guard(st.pluggedMutex);
            st.plugged.insert(ids, ids + 2);
        }
        expected += 2;
        if (!WaitUntil([&] { return st.ledger.Added() >= expected; }, kEventDeadline))
            return st.Fail("physical round " + std::to_string(st.physicalRounds) +
                           ": additions not announced");
        const uint64_t delivered = g_physicalDeliveries;
        WaitUntil([&] { return g_physicalDeliveries >= delivered + 10; }, std::chrono::milliseconds(100));
        const unsigned orderly = random() % 2;
        for (unsigned i = 0; i < 2; ++i)
        {
            {
                std::lock_guard<std::mutex> guard(st.pluggedMutex);
                st.plugged.erase(ids[i]);
            }
            Machine::Instance().UnplugDevice(ids[i], i == orderly ? Removal::Orderly : Removal::Surprise);
            ++(i == orderly ? st.orderly : st.surprise);
        }
        if (!WaitUntil([&] { return st.ledger.Removed() >= expected; }, kEventDeadline))
            return st.Fail("physical round " + std::to_string(st.physicalRounds) +
                           ": removals not announced");
        ++st.physicalRounds;
    }
}

// Keeps the plugged physical devices reporting.
void SendReports(StormState& st)
{
    uint8_t x = 0;
    while (!st.stop)
    {
        std::vector<uint32_t> ids;
        {
            std::lock_guard<std::mutex> guard(st.pluggedMutex);
            ids.assign(st.plugged.begin(), st.plugged.end());
        }
        for (uint32_t id : ids)
            st.reportsSent += Send(id, {0x00, x, x, 0x00, x, 0x00});
        ++x;
        std::this_thread::sleep_for(std::chrono::milliseconds(1)); // about one report a millisecond each
    }
}

_stHidPhysicalInputData FilteredCaps(uint32_t id)
{
    switch (id % 3)
    {
        case 0:
            return Gamepad();
        case 1:
            return Describe(4, {{0, 0, 255}, {6, -100, 100}, {9, 0, 1023}});
        default:
            return Describe(0); // no inputs: every delivery carries 0 records
    }
}

_stHidInputData FilteredInput(uint32_t serial)
{
    _stHidInputData input = NoInput();
    input.buttons[serial % 12] = 1;
    input.axes[0].value = serial & 0xFF;
    input.hats[0].value = serial % 8;
    return input;
}

// A script with its filtered devices, started, fed and stopped.
void ServiceRounds(StormState& st)
{
    std::mt19937 random(11);
    uint32_t serial = 0;
    while (!st.stop)
    {
        std::vector<uint32_t> ids;
        const unsigned wanted = 1 + random() % 4;
        while (ids.size() < wanted)
        {
            const uint32_t id = kFirstFilteredId + random() % kFilteredPool;
            if (std::find(ids.begin(), ids.end(), id) == ids.end())
                ids.push_back(id);
        }
        for (uint32_t id : ids)
            KvSimService::AddFilteredDevice(id, id % 2 ? TEXT("Storm pad") : nullptr, FilteredCaps(id));
        KvSimService::SetScriptRunning(true);
        ++st.scriptNotifications;
        if (st.serviceRounds % 5 == 0)
        {
            KvSimService::NotifyScriptState();
            ++st.scriptNotifications;
        }
        for (int burst = 0; burst < 40 && !st.stop; ++burst)
        {
            for (uint32_t id : ids)
                KvSimService::PushInput(id, FilteredInput(serial++));
            st.inputsPushed += ids.size();
            if (burst == 20 && ids.size() > 1)
            {
                KvSimService::RemoveFilteredDevice(ids.back());
                ids.pop_back();
                ++st.filteredLeftMidScript;
            }
            // Paces the pushes to what the library takes, so the queue stays short.
            WaitUntil([] { return KvSimService::QueuedNotifications() < 16; }, std::chrono::seconds(5));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (uint32_t id : ids)
            KvSimService::RemoveFilteredDevice(id);
        KvSimService::SetScriptRunning(false);
        ++st.scriptNotifications;
        if (st.serviceRounds % 7 == 3)
        {
            KvSimService::SetVirtualKeyboard(st.serviceRounds % 2 == 0);
            KvSimService::SetVirtualMouse(st.serviceRounds % 3 != 0);
        }
        ++st.serviceRounds;
    }
    KvSimService::SetVirtualKeyboard(true);
    KvSimService::SetVirtualMouse(true);
}

// The machine's keyboard and mouse in use.
void DesktopEvents(StormState& st)
{
    std::mt19937 random(13);
    for (uint64_t i = 1; !st.stop; ++i)
    {
        const DWORD key = 0x02 + random() % 0x30;
        winport::machine::PressKey(key);
        winport::machine::ReleaseKey(key);
        winport::machine::MoveMouse(static_cast<LONG>(random() % 21) - 10,
                                    static_cast<LONG>(random() % 21) - 10, random() % 5 == 0 ? 120 : 0);
        const DWORD button = random() % 3;
        winport::machine::PressMouseButton(button);
        winport::machine::ReleaseMouseButton(button);
        st.desktopEvents += 6;
        if (i % 500 == 0)
        {
            winport::machine::LoseInputAcquisition();
            ++st.acquisitionsLost;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void UsePhysical(StormState& st, std::mt19937& random)
{
    uint32_t* list = nullptr;
    uint32_t count = 0;
    if (KvHRGetDevicesList(&list, &count) != 0)
        return st.Fail("KvHRGetDevicesList failed");
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
        uint8_t isVirtual = 0;
        KvHRIsDeviceVirtual(pos, &isVirtual);
        Subscription* s = random() % 4 ? st.ledger.Current(pos) : nullptr;
        KvHRSetReadDeviceValuesCallback(pos, s ? &PhysicalValues : nullptr, s);
        KvHRSetPolling(pos, random() % 3 ? 1 : 0);
        st.applicationCalls += 5;
    }
    KvHRFree(list);
    ++st.applicationCalls;
}

// Mostly a device the service lists now (its input flows), sometimes any of the pool.
void ChangeFiltered(StormState& st, std::mt19937& random, const std::vector<uint32_t>& listed)
{
    const uint32_t id = !listed.empty() && random() % 4 != 0
                            ? listed[random() % listed.size()] & ~FILTERED_DEVICE_FLAG
                            : kFirstFilteredId + random() % kFilteredPool;
    if (id < kFirstFilteredId || id >= kFirstFilteredId + kFilteredPool)
        return st.Fail("filtered list holds " + std::to_string(id));
    FilteredOwner& owner = st.filtered[id - kFirstFilteredId];
    std::lock_guard<std::mutex> guard(owner.mutex);
    const unsigned choice = random() % 4;
    if (choice < 2)
    {
        Subscription& s = st.subscriptions.New(Source::Filtered, id);
        // A device the service no longer knows answers its error, and the callback is stored all the same.
        const uint32_t status = KvHRSetReadDeviceValuesCallback(FilteredId(id), &FilteredValues, &s);
        if (status == KVHR_ERROR_INSUFFICIENT_BUFFER || status == KVHR_ERROR_POSSIBLE_DEADLOCK)
            return st.Fail("filtered callback set for " + std::to_string(id) + ": " + std::to_string(status));
        if (owner.current)
            owner.current->CloseAfterWait();
        owner.current = &s;
        if (KvHRSetPolling(FilteredId(id), 1) != 0)
            st.Fail("filtered polling on refused");
    }
    else if (choice == 2)
    {
        if (KvHRSetPolling(FilteredId(id), 0) != 0)
            st.Fail("filtered polling off refused");
        if (owner.current)
            owner.current->CloseAfterWait();
        owner.current = nullptr;
    }
    else
    {
        const uint32_t status = KvHRSetReadDeviceValuesCallback(FilteredId(id), nullptr, nullptr);
        if (status == 0 && owner.current)
            owner.current->CloseAfterWait();
        if (status == 0)
            owner.current = nullptr;
    }
    st.applicationCalls += 2;
}

void UseFiltered(StormState& st, std::mt19937& random)
{
    uint8_t running = 0;
    KvHRFilterGetScriptRunning(&running);
    uint32_t* list = nullptr;
    uint32_t count = 0;
    std::vector<uint32_t> listed;
    if (KvHRFilterGetDevicesList(&list, &count) == 0)
    {
        listed.assign(list, list + count);
        for (uint32_t i = 0; i < count; ++i)
        {
            if ((list[i] & FILTERED_DEVICE_FLAG) == 0)
                st.Fail("filtered list without the flag");
            KvHRWChar* name = nullptr;
            if (KvHRGetDeviceName(list[i], &name) == 0)
                KvHRFree(name);
            _stHidCapability* caps = nullptr;
            uint32_t capCount = 0;
            if (KvHRGetDeviceCapabilities(list[i], &caps, &capCount) == 0)
                KvHRFree(caps);
            st.applicationCalls += 2;
        }
        KvHRFree(list);
    }
    st.applicationCalls += 2;
    ChangeFiltered(st, random, listed);
}

void ChangeVirtual(StormState& st, std::mt19937& random)
{
    std::unique_lock<std::mutex> guard(st.virtualMutex, std::try_to_lock);
    if (!guard)
        return;
    if (random() % 3)
    {
        for (uint32_t id : {VIRTUAL_KEYBOARD_ID, VIRTUAL_MOUSE_ID})
        {
            Subscription& s = st.subscriptions.New(Source::Virtual, id);
            st.virtualOpen.push_back(&s);
            KvHRSetReadDeviceValuesCallback(id, &VirtualValues, &s);
            if (KvHRSetPolling(id, 1) != 0)
                st.Fail("virtual polling on refused for " + std::to_string(id));
        }
        st.applicationCalls += 4;
        return;
    }
    // Either device's polling off stops both timers and waits for a running tick.
    KvHRSetPolling(random() % 2 ? VIRTUAL_KEYBOARD_ID : VIRTUAL_MOUSE_ID, 0);
    for (Subscription* s : st.virtualOpen)
        s->CloseAfterWait();
    st.virtualOpen.clear();
    ++st.applicationCalls;
}

void UseVirtual(StormState& st, std::mt19937& random)
{
    uint32_t* list = nullptr;
    uint32_t count = 0;
    if (KvHRDirectInputGetVirtualDevicesList(&list, &count) == 0)
        KvHRFree(list);
    for (uint32_t id : {VIRTUAL_KEYBOARD_ID, VIRTUAL_MOUSE_ID})
    {
        KvHRWChar* name = nullptr; // a constant name, not freed
        KvHRGetDeviceName(id, &name);
        _stHidCapability* caps = nullptr;
        uint32_t capCount = 0;
        if (KvHRGetDeviceCapabilities(id, &caps, &capCount) == 0)
            KvHRFree(caps);
    }
    const KvHRWChar* keyName = nullptr;
    KvHRDirectInputGetVirtualKeyboardBtnsName(random() % 300, &keyName);
    st.applicationCalls += 6;
    ChangeVirtual(st, random);
}

void UseDevices(StormState& st, unsigned seed)
{
    std::mt19937 random(seed);
    while (!st.stop)
    {
        UsePhysical(st, random);
        UseFiltered(st, random);
        UseVirtual(st, random);
    }
}

std::string Inventory(const winport::machine::OpenResources& r, const winport::machine::DesktopResources& d)
{
    std::ostringstream text;
    text << "threads " << r.runningThreads;
    for (const auto& [kind, count] : r.handlesByKind)
        text << ", " << kind << " " << count;
    text << "; windows " << d.windows << ", classes " << d.windowClasses << ", timers " << d.windowTimers
         << ", sends " << d.pendingSends << ", registrations " << d.deviceNotifications << ", keys "
         << d.registryKeys << ", DirectInput " << d.directInputObjects << "/" << d.directInputDevices
         << ", COM " << d.comThreads;
    return text.str();
}

std::string OpenNow()
{
    return Inventory(Machine::Instance().QueryOpenResources(), winport::machine::OpenDesktopResources());
}

// Switches off what the application threads left on, closing their subscriptions.
void SwitchEverythingOff(StormState& st)
{
    for (uint32_t k = 0; k < kFilteredPool; ++k)
    {
        FilteredOwner& owner = st.filtered[k];
        std::lock_guard<std::mutex> guard(owner.mutex);
        KvHRSetPolling(FilteredId(kFirstFilteredId + k), 0);
        if (owner.current)
            owner.current->CloseAfterWait();
        owner.current = nullptr;
    }
    std::lock_guard<std::mutex> guard(st.virtualMutex);
    KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 0);
    for (Subscription* s : st.virtualOpen)
        s->CloseAfterWait();
    st.virtualOpen.clear();
}

// The failed checks a storm may log, each documented: a removal that both roads (interface and handle event)
// saw; a capability query whose size answer was not 122 (a filtered device the service dropped between the
// list and the query, or one without inputs); a filtered callback set for a device the service had just
// dropped ("hRes", "pData"); and the restart's registration of the interface class with its GUID still set.
bool ExpectedCheck(const WString& line)
{
    for (const char* where : {"FindDeviceByNotificationHandle", "CKvHidDeviceMgmt::HandleDeviceChange",
                              "NotifWndProc", "CKvHidFilterMgmt::SetReadDeviceValuesCallback",
                              "ASSERT(hRes == ERROR_INSUFFICIENT_BUFFER) failed in \"KvHidRaw\"",
                              "ASSERT(m_notificationsGuid == GUID_NULL)"})
        if (line.find(W(where)) != WString::npos)
            return true;
    return false;
}
} // namespace

TEST(ThreeSourceStormTest, PhysicalFilteredAndVirtualDevicesUnderLoadDeliverNothingLateAndLeaveNothingOpen)
{
    StormWatchdog watchdog(kBound);
    LogCapture log;
    // One start and stop first: what a stop leaves registered for the next start is part of the baseline.
    ASSERT_EQ(KvHRInitialize(), 0u);
    KvHRUnInitialize();
    const std::string openBefore = OpenNow();
    const ULONG blocksBefore = DllAlloc::LiveBlocks(nullptr);

    StormState st;
    KvHRSetNotificationHandler(&StormLedger::Handler, &st.ledger);
    KvSimService::SetNotificationThreads(2);
    ASSERT_EQ(KvHRInitialize(), 0u);

    watchdog.Phase("storm");
    std::vector<std::thread> threads;
    threads.emplace_back(PhysicalRounds, std::ref(st));
    threads.emplace_back(SendReports, std::ref(st));
    threads.emplace_back(ServiceRounds, std::ref(st));
    threads.emplace_back(DesktopEvents, std::ref(st));
    for (int t = 0; t < kApplicationThreads; ++t)
        threads.emplace_back(UseDevices, std::ref(st), 1234u + t);
    WaitUntil([&] { return st.stop.load(); }, kStormWallTime);
    st.stop = true;
    watchdog.Phase("joining the storm's threads");
    for (std::thread& t : threads)
        t.join();

    watchdog.Phase("switching polling off");
    SwitchEverythingOff(st);
    watchdog.Phase("waiting for the service's queue");
    EXPECT_TRUE(KvSimService::WaitIdle(20000));
    EXPECT_EQ(st.ledger.ScriptEvents(), st.scriptNotifications + 1); // the start announces the state too
    EXPECT_EQ(KvSimService::DroppedNotifications(), 0u);
    watchdog.Phase("stopping the library");
    KvHRUnInitialize();
    KvHRSetNotificationHandler(nullptr, nullptr);

    watchdog.Phase("waiting for the resources");
    EXPECT_TRUE(WaitUntil([&] { return OpenNow() == openBefore; }))
        << "before: " << openBefore << "\nafter:  " << OpenNow();
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), blocksBefore);
    EXPECT_EQ(KvSimService::LiveBlocks(), 0u);

    const StormSubscriptions::Totals physical = st.subscriptions.Sum(Source::Physical);
    const StormSubscriptions::Totals filtered = st.subscriptions.Sum(Source::Filtered);
    const StormSubscriptions::Totals keysAndMouse = st.subscriptions.Sum(Source::Virtual);
    std::printf(
        "three-source storm: physical %llu rounds, %d devices added and %d removed (%llu orderly, %llu by "
        "surprise, %llu installs pending), %zu positions, %llu reports sent, %llu deliveries; service "
        "%llu rounds, %llu script notifications, %llu inputs pushed, %llu devices left mid-script, %llu "
        "deliveries to %llu subscriptions; desktop %llu events, %llu acquisitions lost, %llu deliveries "
        "to %llu subscriptions; %llu application calls, %llu calls from events, %llu from values "
        "callbacks\n",
        (unsigned long long)st.physicalRounds, st.ledger.Added(), st.ledger.Removed(),
        (unsigned long long)st.orderly, (unsigned long long)st.surprise, (unsigned long long)st.installs,
        st.ledger.PositionsUsed(), (unsigned long long)st.reportsSent,
        (unsigned long long)physical.deliveries, (unsigned long long)st.serviceRounds,
        (unsigned long long)st.scriptNotifications, (unsigned long long)st.inputsPushed,
        (unsigned long long)st.filteredLeftMidScript, (unsigned long long)filtered.deliveries,
        (unsigned long long)filtered.subscriptions, (unsigned long long)st.desktopEvents,
        (unsigned long long)st.acquisitionsLost, (unsigned long long)keysAndMouse.deliveries,
        (unsigned long long)keysAndMouse.subscriptions, (unsigned long long)st.applicationCalls,
        (unsigned long long)st.ledger.CallsFromEvents(), (unsigned long long)g_callsFromCallbacks);

    EXPECT_EQ(st.faults, std::vector<std::string>{});
    EXPECT_EQ(st.ledger.Faults(), std::vector<std::string>{});
    EXPECT_EQ(st.ledger.Added(), st.ledger.Removed());
    EXPECT_EQ(st.subscriptions.LateOnes(), std::vector<std::string>{});
    EXPECT_EQ(physical.open + filtered.open + keysAndMouse.open, 0u);
    // Every source delivered: the storm exercised what it claims to.
    EXPECT_GT(physical.deliveries, 0u);
    EXPECT_GT(filtered.deliveries, 0u);
    EXPECT_GT(keysAndMouse.deliveries, 0u);
    EXPECT_EQ(log.CountContaining(W("gave up waiting")), 0u);
    EXPECT_EQ(log.CountContaining(W("not waiting longer")), 0u);
    for (const WString& line : log.Lines())
    {
        if (line.find(W("ASSERT(")) != WString::npos || line.find(W("VERIFY(")) != WString::npos)
        {
            EXPECT_TRUE(ExpectedCheck(line)) << Narrow(line);
        }
    }
}
