// Registration for device-change messages and their delivery by the device model's broadcasts.
#include "DesktopTestSupport.h"

#include <dbt.h>
#include <machine/DesktopControl.h>
#include <src/user32/DeviceBroadcast.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

using desktop_test::PumpingWindow;
namespace machine = winport::machine;
namespace user32 = winport::user32;

namespace
{

const GUID kHidClass = {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
const GUID kOtherClass = {0x1, 0x2, 0x3, {4, 5, 6, 7, 8, 9, 10, 11}};
const char16_t kPath[] =
    u"\\\\?\\hid#vid_1234&pid_5678#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";

HDEVNOTIFY RegisterInterface(HWND hwnd, const GUID& cls, DWORD flags = DEVICE_NOTIFY_WINDOW_HANDLE)
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = cls;
    return RegisterDeviceNotificationW(hwnd, &filter, flags);
}

HDEVNOTIFY RegisterHandle(HWND hwnd, HANDLE file)
{
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof(filter);
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = file;
    return RegisterDeviceNotificationW(hwnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

// What a window procedure saw of one WM_DEVICECHANGE, copied while the record was valid.
struct Seen
{
    WPARAM event = 0;
    DWORD type = 0;
    DWORD size = 0;
    std::u16string name;
    GUID cls{};
    HANDLE handle = nullptr;
    HDEVNOTIFY notify = nullptr;
};

} // namespace

TEST(DeviceNotificationRegistration, FiltersAndRecipientsAreChecked)
{
    PumpingWindow window;
    HWND hwnd = window.Window();
    HDEVNOTIFY unfiltered = RegisterDeviceNotificationW(hwnd, nullptr, DEVICE_NOTIFY_WINDOW_HANDLE);
    EXPECT_NE(unfiltered, nullptr) << "accepted, as Wine does";
    EXPECT_TRUE(UnregisterDeviceNotification(unfiltered));
    EXPECT_EQ(RegisterDeviceNotificationW(hwnd, nullptr, 0x100), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    DEV_BROADCAST_HDR unknown{sizeof(DEV_BROADCAST_HDR), DBT_DEVTYP_VOLUME, 0};
    EXPECT_EQ(RegisterDeviceNotificationW(hwnd, &unknown, DEVICE_NOTIFY_WINDOW_HANDLE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));

    EXPECT_EQ(RegisterHandle(hwnd, INVALID_HANDLE_VALUE), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    EXPECT_EQ(RegisterInterface(reinterpret_cast<HWND>(0x4321), kHidClass), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    HDEVNOTIFY a = RegisterInterface(hwnd, kHidClass);
    HDEVNOTIFY b = RegisterInterface(hwnd, kHidClass);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(machine::OpenDesktopResources().deviceNotifications, 2u);
    EXPECT_TRUE(UnregisterDeviceNotification(a));
    EXPECT_FALSE(UnregisterDeviceNotification(a));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(UnregisterDeviceNotification(b));
    EXPECT_EQ(machine::OpenDesktopResources().deviceNotifications, 0u);
}

TEST(DeviceBroadcasts, InterfaceEventsAreSentOnTheWindowsThreadAndWaitForItsProcedure)
{
    std::vector<Seen> seen;
    std::mutex lock;
    std::atomic<bool> inside{false};
    PumpingWindow window(
        [&](HWND, UINT message, WPARAM wParam, LPARAM lParam)
        {
            if (message != WM_DEVICECHANGE)
                return;
            inside = true;
            auto record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam);
            Seen s;
            s.event = wParam;
            s.type = record->dbcc_devicetype;
            s.size = record->dbcc_size;
            s.name = record->dbcc_name;
            s.cls = record->dbcc_classguid;
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            {
                std::lock_guard<std::mutex> guard(lock);
                seen.push_back(s);
            }
            inside = false;
        });
    ASSERT_NE(RegisterInterface(window.Window(), kHidClass), nullptr);

    user32::BroadcastInterfaceArrival(kHidClass, kPath);
    EXPECT_FALSE(inside) << "the broadcast returned before the window procedure did";
    user32::BroadcastInterfaceArrival(kOtherClass, kPath); // nobody registered for it
    user32::BroadcastInterfaceRemoveComplete(kHidClass, kPath);

    std::lock_guard<std::mutex> guard(lock);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].event, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
    EXPECT_EQ(seen[1].event, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
    for (auto& s : seen)
    {
        EXPECT_EQ(s.type, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
        EXPECT_EQ(s.name, kPath);
        EXPECT_TRUE(s.cls == kHidClass);
        EXPECT_EQ(s.size, offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + sizeof(kPath));
    }
    for (auto& d : window.Deliveries())
        if (d.message == WM_DEVICECHANGE)
            EXPECT_EQ(d.threadId, window.ThreadId());
}

TEST(DeviceBroadcasts, AllInterfaceClassesRegistrationHearsEveryClass)
{
    PumpingWindow window;
    ASSERT_NE(RegisterInterface(window.Window(), kOtherClass, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES), nullptr);
    user32::BroadcastInterfaceArrival(kHidClass, kPath);
    EXPECT_EQ(window.Count(WM_DEVICECHANGE), 1u);
}

TEST(DeviceBroadcasts, HandleEventsGoToTheRegistrationsOfThatHandleOnly)
{
    HANDLE file = reinterpret_cast<HANDLE>(0x1000);
    HANDLE other = reinterpret_cast<HANDLE>(0x2000);
    std::vector<Seen> seen;
    std::mutex lock;
    PumpingWindow window(
        [&](HWND, UINT message, WPARAM wParam, LPARAM lParam)
        {
            if (message != WM_DEVICECHANGE)
                return;
            auto record = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lParam);
            Seen s;
            s.event = wParam;
            s.type = record->dbch_devicetype;
            s.size = record->dbch_size;
            s.handle = record->dbch_handle;
            s.notify = record->dbch_hdevnotify;
            std::lock_guard<std::mutex> guard(lock);
            seen.push_back(s);
        });
    HDEVNOTIFY registration = RegisterHandle(window.Window(), file);
    ASSERT_NE(registration, nullptr);

    user32::BroadcastHandleEvent(other, DBT_DEVICEQUERYREMOVE);
    user32::BroadcastHandleEvent(file, DBT_DEVICEQUERYREMOVE);
    user32::BroadcastHandleEvent(file, DBT_DEVICEREMOVEPENDING);
    user32::BroadcastHandleEvent(file, DBT_DEVICEREMOVECOMPLETE);
    ASSERT_TRUE(UnregisterDeviceNotification(registration));
    user32::BroadcastHandleEvent(file, DBT_DEVICEREMOVECOMPLETE);

    std::lock_guard<std::mutex> guard(lock);
    ASSERT_EQ(seen.size(), 3u);
    const WPARAM expected[] = {DBT_DEVICEQUERYREMOVE, DBT_DEVICEREMOVEPENDING, DBT_DEVICEREMOVECOMPLETE};
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(seen[i].event, expected[i]);
        EXPECT_EQ(seen[i].type, static_cast<DWORD>(DBT_DEVTYP_HANDLE));
        EXPECT_EQ(seen[i].size, sizeof(DEV_BROADCAST_HANDLE));
        EXPECT_EQ(seen[i].handle, file);
        EXPECT_EQ(seen[i].notify, registration);
    }
}

TEST(DeviceBroadcasts, SentMessagesAreDispatchedBeforePostedOnes)
{
    std::vector<UINT> order;
    std::mutex lock;
    std::atomic<bool> release{false};
    std::atomic<bool> busy{false};
    PumpingWindow window(
        [&](HWND, UINT message, WPARAM, LPARAM)
        {
            if (message == WM_USER)
                busy = true;
            if (message == WM_USER)
                while (!release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (message == WM_USER || message == WM_USER + 1 || message == WM_DEVICECHANGE)
            {
                std::lock_guard<std::mutex> guard(lock);
                order.push_back(message);
            }
        });
    ASSERT_NE(RegisterInterface(window.Window(), kHidClass), nullptr);
    PostMessageW(window.Window(), WM_USER, 0, 0); // keeps the window busy
    PostMessageW(window.Window(), WM_USER + 1, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return busy.load(); }));
    std::thread broadcaster([&] { user32::BroadcastInterfaceArrival(kHidClass, kPath); });
    ASSERT_TRUE(WaitUntil([] { return machine::OpenDesktopResources().pendingSends == 1; }));
    release = true;
    broadcaster.join();
    ASSERT_TRUE(WaitUntil(
        [&]
        {
            std::lock_guard<std::mutex> guard(lock);
            return order.size() == 3;
        }));
    EXPECT_EQ(order[0], static_cast<UINT>(WM_USER));
    EXPECT_EQ(order[1], static_cast<UINT>(WM_DEVICECHANGE));
    EXPECT_EQ(order[2], static_cast<UINT>(WM_USER + 1));
}

TEST(DeviceBroadcasts, ABroadcastFromTheWindowsOwnThreadRunsTheProcedureDirectly)
{
    std::atomic<int> nested{0};
    PumpingWindow window(
        [&](HWND hwnd, UINT message, WPARAM wParam, LPARAM)
        {
            if (message == WM_USER)
                user32::BroadcastInterfaceArrival(kHidClass, kPath);
            if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL)
                ++nested;
            (void)hwnd;
        });
    ASSERT_NE(RegisterInterface(window.Window(), kHidClass), nullptr);
    SendMessageW(window.Window(), WM_USER, 0, 0);
    EXPECT_EQ(nested, 1);
}

TEST(DeviceBroadcasts, WindowsWhoseThreadEndedOrThatDoNotPumpDoNotHangTheSender)
{
    PumpingWindow ended;
    ASSERT_NE(RegisterInterface(ended.Window(), kHidClass), nullptr);
    ended.Stop();
    auto start = std::chrono::steady_clock::now();
    user32::BroadcastInterfaceArrival(kHidClass, kPath);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    machine::SetDeviceBroadcastTimeout(std::chrono::milliseconds(50));
    PumpingWindow idle(nullptr, /*pump=*/false);
    ASSERT_NE(RegisterInterface(idle.Window(), kHidClass), nullptr);
    user32::BroadcastInterfaceArrival(kHidClass, kPath); // returns after the timeout
    EXPECT_EQ(idle.Count(WM_DEVICECHANGE), 0u);
    idle.Release();
}
