// The notification object on its own, against the machine: its window, the events it forwards, its
// registrations, and its stop, including a stop while an event is being handled.
#include "NotificationTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using namespace notif_test;

namespace
{
class NotificationWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_threadsBefore = RunningThreads();
        m_desktopBefore = machine::OpenDesktopResources();
    }

    // Sends a device event to the window, as the system would, and returns what the procedure answered.
    static LRESULT Send(HWND hWnd, WPARAM event, void* record)
    {
        return SendMessageW(hWnd, WM_DEVICECHANGE, event, reinterpret_cast<LPARAM>(record));
    }
    static DEV_BROADCAST_HANDLE HandleRecord(HANDLE hDevice)
    {
        DEV_BROADCAST_HANDLE record = {};
        record.dbch_size = sizeof(record);
        record.dbch_devicetype = DBT_DEVTYP_HANDLE;
        record.dbch_handle = hDevice;
        return record;
    }

    LogCapture m_log;
    int m_threadsBefore = 0;
    machine::DesktopResources m_desktopBefore;
    int m_context = 0;
};
} // namespace

TEST_F(NotificationWindow, StartCreatesTheMessageOnlyWindowOnAThreadOfItsOwn)
{
    CKvDevNotifications notif;
    EXPECT_EQ(FindNotifyWindow(), nullptr);
    notif.Initialize();
    EXPECT_TRUE(notif.IsInitialized());

    const HWND hWnd = FindNotifyWindow();
    ASSERT_NE(hWnd, nullptr);
    EXPECT_EQ(FindWindowExW(nullptr, nullptr, u"Kavrel Notify HID 1", nullptr), nullptr); // message-only
    const DWORD windowThread = GetWindowThreadProcessId(hWnd, nullptr);
    EXPECT_NE(windowThread, 0u);
    EXPECT_NE(windowThread, GetCurrentThreadId());
    EXPECT_EQ(CKvDevNotifications::GetWindowInstance(hWnd), &notif);
    EXPECT_EQ(RunningThreads(), m_threadsBefore + 1);

    notif.UnInitialize();
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 0u);
}

TEST_F(NotificationWindow, InterfaceEventsReachTheCallbackOnTheMessageThread)
{
    CKvDevNotifications notif;
    notif.Initialize();
    notif.RegisterDeviceInterfaceNotifications(HidInterfaceClass(), &Recorder::OnInterface,
                                               &m_context);

    const uint32_t device = PlugGamePad(); // the arrival is sent: it has been handled when the plug returns
    const std::u16string path = InterfacePath(device);
    ASSERT_TRUE(machine::Machine::Instance().UnplugDevice(device, machine::Removal::Surprise));

    const std::vector<Heard> events = Recorder::Instance().Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event, static_cast<DWORD>(DBT_DEVICEARRIVAL));
    EXPECT_EQ(events[1].event, static_cast<DWORD>(DBT_DEVICEREMOVECOMPLETE));
    for (const Heard& heard : events)
    {
        EXPECT_EQ(heard.deviceType, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
        EXPECT_EQ(heard.path, path);
        EXPECT_EQ(heard.thread, GetWindowThreadProcessId(FindNotifyWindow(), nullptr));
        EXPECT_EQ(heard.context, &m_context);
    }
    EXPECT_EQ(m_log.Count(u"DeviceInterface Notification!"), 2u);
    notif.UnInitialize();
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 0u);
}

TEST_F(NotificationWindow, OnlyDeviceEventsWithARecordReachACallback)
{
    CKvDevNotifications notif;
    notif.Initialize();
    notif.RegisterDeviceInterfaceNotifications(HidInterfaceClass(), &Recorder::OnInterface,
                                               &m_context);
    const HWND hWnd = FindNotifyWindow();
    DEV_BROADCAST_DEVICEINTERFACE_W record = {};
    record.dbcc_size = sizeof(record);
    record.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    DEV_BROADCAST_HDR volume = {sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};

    Send(hWnd, DBT_DEVNODES_CHANGED, nullptr);
    Send(hWnd, DBT_QUERYCHANGECONFIG, &record);
    Send(hWnd, DBT_DEVICEARRIVAL, nullptr);
    Send(hWnd, 0xC000, &record); // bit 14 set: not of the arrival family
    Send(hWnd, DBT_DEVICEARRIVAL, &volume);
    EXPECT_TRUE(Recorder::Instance().Events().empty());

    // The same record as an arrival and as a custom event is forwarded, with the event code unchanged.
    Send(hWnd, DBT_DEVICEARRIVAL, &record);
    Send(hWnd, DEVICE_TIMER_EXPIRED, &record);
    const std::vector<Heard> events = Recorder::Instance().Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event, static_cast<DWORD>(DBT_DEVICEARRIVAL));
    EXPECT_EQ(events[1].event, static_cast<DWORD>(0x8006));
    notif.UnInitialize();
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 0u);
}

TEST_F(NotificationWindow, HandleEventsReachTheFirstEntryRegisteredForThatHandle)
{
    CKvDevNotifications notif;
    notif.Initialize();
    const uint32_t first = PlugGamePad();
    const uint32_t second = PlugGamePad();
    const HANDLE hFirst = OpenDevice(first);
    const HANDLE hSecond = OpenDevice(second);
    int firstContext = 1, duplicateContext = 2, secondContext = 3;
    EXPECT_NE(notif.RegisterDeviceHandleNotification(hFirst, &Recorder::OnHandle, &firstContext), nullptr);
    EXPECT_NE(notif.RegisterDeviceHandleNotification(hSecond, &Recorder::OnHandle, &secondContext), nullptr);
    EXPECT_NE(notif.RegisterDeviceHandleNotification(hFirst, &Recorder::OnHandle, &duplicateContext),
              nullptr);

    ASSERT_TRUE(machine::Machine::Instance().UnplugDevice(first, machine::Removal::Orderly));
    std::vector<Heard> events = Recorder::Instance().Events();
    // Query-remove, remove-pending, remove-complete, each sent once per system registration (two for this
    // handle), and each time to the first entry.
    ASSERT_EQ(events.size(), 6u);
    const DWORD expected[] = {DBT_DEVICEQUERYREMOVE, DBT_DEVICEREMOVEPENDING, DBT_DEVICEREMOVECOMPLETE};
    for (size_t i = 0; i < events.size(); ++i)
    {
        EXPECT_EQ(events[i].event, expected[i / 2]);
        EXPECT_EQ(events[i].handle, hFirst);
        EXPECT_EQ(events[i].context, &firstContext);
        EXPECT_EQ(events[i].thread, GetWindowThreadProcessId(FindNotifyWindow(), nullptr));
    }

    ASSERT_TRUE(machine::Machine::Instance().UnplugDevice(second, machine::Removal::Surprise));
    events = Recorder::Instance().Events();
    ASSERT_EQ(events.size(), 7u);
    EXPECT_EQ(events[6].handle, hSecond);
    EXPECT_EQ(events[6].context, &secondContext);
    EXPECT_EQ(m_log.Count(u"DeviceHandle Notification!"), 7u);
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 0u);
    notif.UnInitialize();
    CloseHandle(hFirst);
    CloseHandle(hSecond);
}

// The device manager closes a device on its query-remove, on the message thread, inside the event.
TEST_F(NotificationWindow, AHandleUnregisteredInsideItsOwnEventHearsNothingMore)
{
    CKvDevNotifications notif;
    notif.Initialize();
    const uint32_t device = PlugGamePad();
    HANDLE file = OpenDevice(device);
    const HDEVNOTIFY registration =
        notif.RegisterDeviceHandleNotification(file, &Recorder::OnHandle, &m_context);
    DWORD unregistered = ~0u;
    Recorder::Instance().SetHook(
        [&]
        {
            unregistered = notif.UnregisterDeviceHandleNotification(registration);
            CloseHandle(file);
        });

    ASSERT_TRUE(machine::Machine::Instance().UnplugDevice(device, machine::Removal::Orderly));
    const std::vector<Heard> events = Recorder::Instance().Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, static_cast<DWORD>(DBT_DEVICEQUERYREMOVE));
    EXPECT_EQ(unregistered, 0u);
    EXPECT_EQ(machine::OpenDesktopResources().deviceNotifications, m_desktopBefore.deviceNotifications);
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 0u);
    notif.UnInitialize();
}

TEST_F(NotificationWindow, SixtyFourHandleRegistrationsFillTheTableAndUnregisteringFreesAnEntry)
{
    CKvDevNotifications notif;
    notif.Initialize();
    const HWND hWnd = FindNotifyWindow();
    const uint32_t device = PlugGamePad();
    std::vector<HANDLE> files;
    std::vector<HDEVNOTIFY> registrations;
    static int contexts[65];
    for (int i = 0; i < 65; ++i)
    {
        files.push_back(OpenDevice(device));
        registrations.push_back(
            notif.RegisterDeviceHandleNotification(files[i], &Recorder::OnHandle, &contexts[i]));
        ASSERT_NE(registrations[i], nullptr) << i;
    }
    EXPECT_EQ(machine::OpenDesktopResources().deviceNotifications, m_desktopBefore.deviceNotifications + 65);

    // The 64th has an entry; the 65th stands with the system but finds none.
    DEV_BROADCAST_HANDLE record = HandleRecord(files[63]);
    Send(hWnd, DBT_DEVICEQUERYREMOVE, &record);
    record = HandleRecord(files[64]);
    Send(hWnd, DBT_DEVICEQUERYREMOVE, &record);
    std::vector<Heard> events = Recorder::Instance().Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].context, &contexts[63]);
    EXPECT_EQ(m_log.CountContaining(u"ASSERT(bFound) failed in \"KvDevNotifications\""), 1u);
    EXPECT_EQ(m_log.CountContaining(u"function CKvDevNotifications::NotifWndProc"), 1u);

    // Unregistering entry 10 frees it: handle 10 is heard no more, and the 65th handle, registered again,
    // takes the entry.
    EXPECT_EQ(notif.UnregisterDeviceHandleNotification(registrations[10]), 0u);
    EXPECT_EQ(notif.UnregisterDeviceHandleNotification(registrations[64]), 0u); // not in the table: still 0
    EXPECT_EQ(machine::OpenDesktopResources().deviceNotifications, m_desktopBefore.deviceNotifications + 63);
    DEV_BROADCAST_HANDLE tenth = HandleRecord(files[10]);
    Send(hWnd, DBT_DEVICEQUERYREMOVE, &tenth);
    EXPECT_EQ(Recorder::Instance().Events().size(), 1u);
    EXPECT_NE(notif.RegisterDeviceHandleNotification(files[64], &Recorder::OnHandle, &contexts[64]), nullptr);
    Send(hWnd, DBT_DEVICEQUERYREMOVE, &record);
    events = Recorder::Instance().Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].context, &contexts[64]);
    EXPECT_EQ(m_log.CountContaining(u"ASSERT(bFound)"), 2u);

    EXPECT_EQ(notif.UnregisterDeviceHandleNotification(nullptr), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(notif.UnregisterDeviceHandleNotification(static_cast<HDEVNOTIFY>(INVALID_HANDLE_VALUE)),
              static_cast<DWORD>(ERROR_INVALID_HANDLE));
    notif.UnInitialize(); // drops the 64 in the table
    EXPECT_EQ(machine::OpenDesktopResources().deviceNotifications, m_desktopBefore.deviceNotifications);
    for (HANDLE file : files)
        CloseHandle(file);
}

TEST_F(NotificationWindow, StopEndsTheThreadAndTheWindowDropsTheRegistrationsAndCanBeRepeated)
{
    const int handlesBefore = machine::Machine::Instance().QueryOpenResources().HandleCount();
    CKvDevNotifications notif;
    notif.Initialize();
    notif.RegisterDeviceInterfaceNotifications(HidInterfaceClass(), &Recorder::OnInterface,
                                               &m_context);
    const uint32_t device = PlugGamePad();
    const HANDLE file = OpenDevice(device);
    notif.RegisterDeviceHandleNotification(file, &Recorder::OnHandle, &m_context);
    ASSERT_EQ(machine::OpenDesktopResources().deviceNotifications, m_desktopBefore.deviceNotifications + 2);

    notif.UnInitialize();
    EXPECT_FALSE(notif.IsInitialized());
    EXPECT_EQ(FindNotifyWindow(), nullptr);
    EXPECT_EQ(RunningThreads(), m_threadsBefore);
    const machine::DesktopResources after = machine::OpenDesktopResources();
    EXPECT_EQ(after.windows, m_desktopBefore.windows);
    EXPECT_EQ(after.deviceNotifications, m_desktopBefore.deviceNotifications);
    EXPECT_EQ(after.windowClasses, m_desktopBefore.windowClasses + 1); // the class stays for the next start
    EXPECT_EQ(machine::Machine::Instance().QueryOpenResources().HandleCount(), handlesBefore + 1); // the file

    notif.UnInitialize();
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 0u);
    EXPECT_EQ(machine::Machine::Instance().QueryOpenResources().HandleCount(), handlesBefore + 1);

    // A new start makes a new window under the same class; the interface class is registered again.
    notif.Initialize();
    ASSERT_NE(FindNotifyWindow(), nullptr);
    notif.RegisterDeviceInterfaceNotifications(HidInterfaceClass(), &Recorder::OnInterface,
                                               &m_context);
    EXPECT_EQ(m_log.CountContaining(u"ASSERT(m_notificationsGuid == GUID_NULL)"), 1u);
    PlugGamePad();
    const std::vector<Heard> events = Recorder::Instance().Events();
    ASSERT_EQ(events.size(), 2u); // the plug before the stop, and this one
    EXPECT_EQ(events[1].event, static_cast<DWORD>(DBT_DEVICEARRIVAL));
    notif.UnInitialize();
    CloseHandle(file);
}

TEST_F(NotificationWindow, TheClassGoesWithTheLastInstanceAndADestroyedStartedObjectStopsFirst)
{
    {
        CKvDevNotifications notif;
        notif.Initialize();
        ASSERT_NE(FindNotifyWindow(), nullptr);
    }
    EXPECT_EQ(m_log.CountContaining(u"ASSERT(m_bInitialized == false)"), 1u);
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 1u);
    EXPECT_EQ(FindNotifyWindow(), nullptr);
    EXPECT_EQ(RunningThreads(), m_threadsBefore);
    EXPECT_EQ(machine::OpenDesktopResources().windowClasses, m_desktopBefore.windowClasses);
}

TEST_F(NotificationWindow, AStopWaitsForTheEventBeingHandled)
{
    CKvDevNotifications notif;
    notif.Initialize();
    notif.RegisterDeviceInterfaceNotifications(HidInterfaceClass(), &Recorder::OnInterface,
                                               &m_context);
    std::promise<void> entered;
    const size_t registered = m_desktopBefore.deviceNotifications + 1;
    // The event returns only once the stop has begun (it drops the registration before it waits).
    Recorder::Instance().SetHook(
        [&]
        {
            entered.set_value();
            WaitUntil([&] { return machine::OpenDesktopResources().deviceNotifications < registered; });
        });
    std::thread plugger([] { PlugGamePad(); });
    entered.get_future().wait();

    notif.UnInitialize();
    plugger.join();
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 0u);
    EXPECT_EQ(RunningThreads(), m_threadsBefore);
    EXPECT_EQ(FindNotifyWindow(), nullptr);
}

TEST_F(NotificationWindow, AStopThatOutlastsItsWaitGoesOnAndTheThreadEndsAfterTheEvent)
{
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    {
        CKvDevNotifications notif;
        notif.Initialize();
        notif.RegisterDeviceInterfaceNotifications(HidInterfaceClass(), &Recorder::OnInterface,
                                                   &m_context);
        const HWND hWnd = FindNotifyWindow();
        Recorder::Instance().SetHook(
            [&]
            {
                entered.set_value();
                released.wait();
            });
        std::thread plugger([] { PlugGamePad(); });
        entered.get_future().wait();

        notif.UnInitialize(); // waits 2000 ms for a thread that is still in the event
        EXPECT_FALSE(notif.IsInitialized());
        EXPECT_EQ(m_log.CountContaining(u"ASSERT(waitResult == WAIT_OBJECT_0)"), 1u);
        EXPECT_EQ(m_log.CountContaining(
                      u"ASSERT(GetWindowInstance(m_wndNotif) == NULL || !::IsWindow(m_wndNotif))"),
                  1u);
        EXPECT_EQ(CKvDevNotifications::GetWindowInstance(hWnd), nullptr);
        EXPECT_EQ(RunningThreads(), m_threadsBefore + 1);

        release.set_value();
        plugger.join();
        EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == m_threadsBefore; }));
        EXPECT_TRUE(WaitUntil([&] { return FindNotifyWindow() == nullptr; }));
    }
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 2u);
    EXPECT_EQ(machine::OpenDesktopResources().windowClasses, m_desktopBefore.windowClasses);
}

TEST_F(NotificationWindow, AStopFromInsideAnEventDoesNotWaitForItsOwnThread)
{
    CKvDevNotifications notif;
    notif.Initialize();
    notif.RegisterDeviceInterfaceNotifications(HidInterfaceClass(), &Recorder::OnInterface,
                                               &m_context);
    std::atomic<bool> stillInitialized{true};
    Recorder::Instance().SetHook(
        [&]
        {
            notif.UnInitialize();
            stillInitialized = notif.IsInitialized();
        });

    PlugGamePad();
    EXPECT_FALSE(stillInitialized);
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 0u);
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == m_threadsBefore; }));
    EXPECT_TRUE(WaitUntil([&] { return FindNotifyWindow() == nullptr; }));

    // The library may start again at once, from any thread.
    Recorder::Instance().SetHook(nullptr);
    notif.Initialize();
    EXPECT_NE(FindNotifyWindow(), nullptr);
    notif.UnInitialize();
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 0u);
}

// A thread stopped from inside its own event runs the library's code until it has left its loop; here it is
// held there (on the association lock), so destroying the object waits for it, up to 2000 ms.
TEST_F(NotificationWindow, DestroyingTheObjectWaitsForAStoppedThreadStillInItsCode)
{
    alignas(CKvDevNotifications) static unsigned char storage[sizeof(CKvDevNotifications)];
    CKvDevNotifications* notif = new (storage) CKvDevNotifications; // outlives its destruction, as a global
    notif->Initialize();
    notif->RegisterDeviceInterfaceNotifications(HidInterfaceClass(), &Recorder::OnInterface,
                                                &m_context);
    std::promise<void> lockHeld;
    std::promise<void> releaseLock;
    std::thread holder;
    Recorder::Instance().SetHook(
        [&]
        {
            notif->UnInitialize();
            holder = std::thread(
                [&]
                {
                    CLock hold(&CKvDevNotifications::m_hWindowAssociation, "test", false, true,
                               KV_LOCK_TIMEOUT_MS);
                    lockHeld.set_value();
                    releaseLock.get_future().wait();
                });
            lockHeld.get_future().wait();
        });
    PlugGamePad(); // the thread leaves its loop and waits for the association lock

    notif->~CKvDevNotifications();
    EXPECT_EQ(m_log.Count(u"CKvDevNotifications: a stopped message thread is still running"), 1u);
    EXPECT_EQ(RunningThreads(), m_threadsBefore + 1);
    releaseLock.set_value();
    holder.join();
    EXPECT_TRUE(WaitUntil([&] { return RunningThreads() == m_threadsBefore; }));
    EXPECT_EQ(m_log.CountContaining(u"ASSERT("), 0u);
}

TEST(WindowAssociations, EightWindowsAtMostEachOnce)
{
    LogCapture log;
    CKvDevNotifications first;
    CKvDevNotifications second;
    auto window = [](int n) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1000 + 0x10 * n)); };
    for (int n = 0; n < 7; ++n)
        CKvDevNotifications::AssociateWindowInstance(window(n), &first);
    CKvDevNotifications::AssociateWindowInstance(window(3), &second); // already associated: not stored again
    CKvDevNotifications::AssociateWindowInstance(window(7), &first);  // the eighth fits
    CKvDevNotifications::AssociateWindowInstance(window(8), &second); // a ninth: no room
    EXPECT_EQ(CKvDevNotifications::GetWindowInstance(window(3)), &first);
    EXPECT_EQ(CKvDevNotifications::GetWindowInstance(window(7)), &first);
    EXPECT_EQ(CKvDevNotifications::GetWindowInstance(window(8)), nullptr);
    EXPECT_EQ(log.CountContaining(u"ASSERT(false) failed in \"KvDevNotifications\" at line "), 2u);
    EXPECT_EQ(log.CountContaining(u"function CKvDevNotifications::AssociateWindowInstance"), 2u);

    CKvDevNotifications::RemoveWindowInstance(window(3));
    CKvDevNotifications::RemoveWindowInstance(window(99)); // unknown: nothing changes
    EXPECT_EQ(CKvDevNotifications::GetWindowInstance(window(3)), nullptr);
    CKvDevNotifications::AssociateWindowInstance(window(8), &second); // takes the freed entry
    EXPECT_EQ(CKvDevNotifications::GetWindowInstance(window(8)), &second);
    for (int n = 0; n < 8; ++n)
        EXPECT_EQ(CKvDevNotifications::GetWindowInstance(window(n)), n == 3 ? nullptr : &first) << n;
    for (int n = 0; n <= 8; ++n)
        CKvDevNotifications::RemoveWindowInstance(window(n));
    EXPECT_EQ(log.CountContaining(u"ASSERT("), 2u);
}
