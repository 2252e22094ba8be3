// How an arriving device is taken in: parked under a 100 ms device timer, taken in once no installation is
// pending anywhere, or after 10 s of pending installations once its own device is ready.
#include <gtest/gtest.h>

#include "HotplugTestSupport.h"

#include <cfgmgr32.h>

#include <algorithm>

using namespace hotplug;

namespace
{
const WString kTimedOut = u"Device notification TIMED-OUT!";
const WString kEnumerating = u"Enumerating HID devices:";

// Moves the machine clock past the 10 s that an arrival waits for pending installations.
void PassInstallWaitLimit()
{
    Machine::Instance().GetClock().Advance(10001);
}

// Whether more than `announced` arrivals are heard within a stretch of a few re-check periods.
bool MoreArrivalsWithin(KvNotificationRecorder& recorder, size_t announced, std::chrono::milliseconds stretch)
{
    return WaitUntil([&] { return recorder.Count(NOTIF_DEVICE_ADDED) > announced; }, stretch);
}
} // namespace

TEST(ArrivalTest, WithNoInstallPendingADeviceIsAnnouncedOnceItsTimerHasFired)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const auto plugged = std::chrono::steady_clock::now();
    Plug(Description(JoystickDescriptor()));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 1));

    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].value, 0u);
    // The arrival message only parks the record; the take-in waits for the timer's 100 ms.
    EXPECT_GE(events[0].when - plugged, std::chrono::milliseconds(95));
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    EXPECT_EQ(log.CountContaining(kTimedOut), 0u);
    EXPECT_EQ(FailedChecks(log), "");
}

TEST(ArrivalTest, ADeviceInstallingForThreeSecondsIsTakenInOnlyAfterTheInstallationEnds)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const uint32_t id = Plug(Installing(Description(JoystickDescriptor())));
    // Several re-checks pass while the installation runs, three seconds of it on the machine clock.
    EXPECT_FALSE(MoreArrivalsWithin(recorder, 0, std::chrono::milliseconds(500)));
    Machine::Instance().GetClock().Advance(3000);
    EXPECT_FALSE(MoreArrivalsWithin(recorder, 0, std::chrono::milliseconds(300)));
    const uint32_t finishedAt = TickCount();
    ASSERT_TRUE(Machine::Instance().FinishInstall(id));

    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    EXPECT_GE(recorder.Events()[0].tick, finishedAt);
    EXPECT_EQ(recorder.Positions(NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0}));
    EXPECT_EQ(log.CountContaining(kTimedOut), 0u);
    EXPECT_EQ(FailedChecks(log), "");
}

TEST(ArrivalTest, PastTenSecondsOfPendingInstallationsAReadyDeviceIsTakenIn)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const uint32_t installing = Plug(Installing(Description(JoystickDescriptor())));
    Plug(Description(JoystickDescriptor(), "Ready pad", 0x1111, 0x2222));
    EXPECT_FALSE(MoreArrivalsWithin(recorder, 0, std::chrono::milliseconds(300)));
    PassInstallWaitLimit();

    // The ready device's take-in updates the whole table: every listed interface is opened, the installing
    // one's too.
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 2));
    EXPECT_GE(log.CountContaining(kTimedOut), 1u);
    EXPECT_EQ(log.CountContaining(u"Device READY!"), 1u);
    EXPECT_EQ(log.CountContaining(
                  u"Device pending wait timed-out. Processing command for \\\\?\\hid#vid_1111&pid_2222"),
              1u);
    // The installing device's own record keeps being examined and is never ready: not started, install
    // state 3.
    const WString installingPath = Machine::Instance().InterfacePaths(installing)[0];
    ASSERT_TRUE(WaitUntil(
        [&]
        {
            return log.CountContaining(
                       u"IsDeviceReady install: 0x00000003   status: 0x00806000   problem: 0x00000000  (" +
                       installingPath + u")") >= 2;
        }));
    EXPECT_EQ(recorder.Events().size(), 2u);
    const auto names = std::vector<WString>{DeviceName(0), DeviceName(1)};
    EXPECT_NE(std::find(names.begin(), names.end(), u"Ready pad"), names.end());
}

TEST(ArrivalTest, AnInstallProblemKeepsTheDeviceOutWithItsProblemNumberLogged)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const uint32_t blocker = Plug(Installing(Description(JoystickDescriptor())));
    const uint32_t broken = Plug(Description(JoystickDescriptor(), nullptr, 0x1111, 0x2222));
    ASSERT_TRUE(
        Machine::Instance().SetDevNodeStatus(broken, DN_HAS_PROBLEM | DN_DRIVER_LOADED | DN_STARTED, 0x1C));
    PassInstallWaitLimit();

    ASSERT_TRUE(WaitUntil(
        [&] { return log.CountContaining(u"IsDeviceReady: Device install problem: 0x0000001C") >= 2; }));
    EXPECT_EQ(recorder.Count(NOTIF_DEVICE_ADDED), 0u);
    EXPECT_EQ(log.CountContaining(u"Device READY!"), 0u);
    // Once nothing is pending the table is brought up to date, whatever each device says of itself.
    ASSERT_TRUE(Machine::Instance().FinishInstall(blocker));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 2));
}

TEST(ArrivalTest, AFailedInstallationReleasesTheWaitAndTheOtherArrivalsAreTakenIn)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const uint32_t failing = Plug(Installing(Description(JoystickDescriptor())));
    Plug(Description(JoystickDescriptor(), nullptr, 0x1111, 0x2222));
    EXPECT_FALSE(MoreArrivalsWithin(recorder, 0, std::chrono::milliseconds(300)));
    ASSERT_TRUE(Machine::Instance().FinishInstall(failing, false));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    EXPECT_EQ(log.CountContaining(kTimedOut), 0u);
}

TEST(ArrivalTest, TwoDevicesArrivingTogetherAreAnnouncedOnceEach)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const size_t enumerationsBefore = log.CountContaining(kEnumerating);
    Plug(Description(JoystickDescriptor()));
    Plug(Description(JoystickDescriptor(), nullptr, 0x1111, 0x2222));
    // Two parked records, two take-ins: the second finds nothing new.
    ASSERT_TRUE(WaitUntil([&] { return log.CountContaining(kEnumerating) >= enumerationsBefore + 2; }));
    EXPECT_EQ(recorder.Positions(NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(FailedChecks(log), "");
}

TEST(ArrivalTest, AnInterfaceArrivingTwiceIsAnnouncedOnce)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const uint32_t id = Plug(Description(JoystickDescriptor()));
    ASSERT_TRUE(Machine::Instance().AnnounceArrival(id)); // before the take-in: a second parked record
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    const size_t enumerations = log.CountContaining(kEnumerating);
    ASSERT_TRUE(Machine::Instance().AnnounceArrival(id)); // after it
    ASSERT_TRUE(WaitUntil([&] { return log.CountContaining(kEnumerating) >= enumerations + 1; }));
    EXPECT_EQ(recorder.Events().size(), 1u);
    EXPECT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
    EXPECT_EQ(FailedChecks(log), "");
}

// An application thread holds the table while a handler of its update waits.
class TableHolder
{
public:
    explicit TableHolder(KvNotificationRecorder& recorder) : m_recorder(recorder) {}

    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        TableHolder* self = static_cast<TableHolder*>(context);
        KvNotificationRecorder::Handler(event, value, &self->m_recorder);
        std::unique_lock<std::mutex> guard(self->m_mutex);
        self->m_holding = true;
        self->m_changed.notify_all();
        self->m_changed.wait(guard, [&] { return self->m_release; });
    }
    bool WaitHolding()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_changed.wait_for(guard, std::chrono::seconds(10), [&] { return m_holding; });
    }
    void Release()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_release = true;
        m_changed.notify_all();
    }

private:
    KvNotificationRecorder& m_recorder;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_holding = false;
    bool m_release = false;
};

TEST(ArrivalTest, ABusyTableSendsTheArrivalRoundAgainAndLosesNothing)
{
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    TableHolder holder(recorder);
    const uint32_t first = Plug(Installing(Description(JoystickDescriptor())));
    KvHRSetNotificationHandler(&TableHolder::Handler, &holder);
    std::thread application([] { EXPECT_EQ(KvHRUpdateHidDevicesList(), 0u); });
    ASSERT_TRUE(holder.WaitHolding());
    ASSERT_TRUE(Machine::Instance().FinishInstall(first));
    Plug(Description(JoystickDescriptor(), nullptr, 0x1111, 0x2222));
    // Its timer fires while the table is held: the take-in does not wait, the record goes round again.
    EXPECT_FALSE(MoreArrivalsWithin(recorder, 1, std::chrono::milliseconds(400)));
    holder.Release();
    application.join();
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 2));
    EXPECT_EQ(recorder.Positions(NOTIF_DEVICE_ADDED), (std::vector<uint32_t>{0, 1}));
}

TEST(ArrivalTest, ARemovalBeforeTheTakeInDropsTheParkedRecordAndAnnouncesNothing)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    const uint32_t id = Plug(Installing(Description(JoystickDescriptor())));
    const WString path = Machine::Instance().InterfacePaths(id)[0];
    const size_t enumerations = log.CountContaining(kEnumerating);
    ASSERT_TRUE(Machine::Instance().UnplugDevice(id, Removal::Surprise));
    EXPECT_EQ(log.CountContaining(u"Device timer removed for " + path), 1u);
    // The background update runs and finds nothing to remove.
    ASSERT_TRUE(WaitUntil([&] { return log.CountContaining(kEnumerating) > enumerations; }));
    Plug(Description(JoystickDescriptor(), nullptr, 0x1111, 0x2222));
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 1));
    EXPECT_EQ(recorder.Events().size(), 1u);
    EXPECT_EQ(FailedChecks(log), "");
}

TEST(ArrivalTest, AFullTimerTableLosesTheArrivalUntilTheNextUpdate)
{
    LogCapture log;
    KvNotificationRecorder recorder{KvNotificationRecorder::Keep::DeviceEvents};
    Library library(recorder);
    std::vector<uint32_t> ids;
    for (int i = 0; i < 33; ++i)
        ids.push_back(
            Plug(Installing(Description(JoystickDescriptor(), nullptr, 0x1000, static_cast<USHORT>(i)))));
    EXPECT_EQ(log.CountContaining(u"ASSERT(pos != -1) failed in \"KvDevNotifications\""), 1u);
    for (uint32_t id : ids)
        ASSERT_TRUE(Machine::Instance().FinishInstall(id));
    // One take-in opens what one enumeration lists: 16 interfaces.
    ASSERT_TRUE(recorder.WaitForCount(NOTIF_DEVICE_ADDED, 16));
    EXPECT_EQ(DevicesList().size(), 16u);
}
