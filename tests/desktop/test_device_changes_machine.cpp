// The road of device-change messages from the machine's device model to a window: plugging and
// unplugging a device reaches the registered window on its own thread, in Windows' order.
#include "DesktopTestSupport.h"
#include "TestDescriptors.h"

#include <dbt.h>
#include <hidsdi.h>
#include <machine/Machine.h>

#include <gtest/gtest.h>

#include <mutex>
#include <string>

using desktop_test::PumpingWindow;
namespace machine = winport::machine;

namespace
{

struct Event
{
    WPARAM event;
    DWORD type;
    std::u16string path; // interface events
    HANDLE handle;       // handle events
    DWORD thread;
};

class DeviceChanges : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_window = std::make_unique<PumpingWindow>(
            [this](HWND, UINT message, WPARAM wParam, LPARAM lParam)
            {
                if (message != WM_DEVICECHANGE)
                    return;
                auto header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
                Event e{wParam, header->dbch_devicetype, {}, nullptr, GetCurrentThreadId()};
                if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE)
                    e.path = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(lParam)->dbcc_name;
                else
                    e.handle = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lParam)->dbch_handle;
                std::lock_guard<std::mutex> guard(m_lock);
                m_events.push_back(e);
            });
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof(filter);
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        HidD_GetHidGuid(&filter.dbcc_classguid);
        ASSERT_NE(RegisterDeviceNotificationW(m_window->Window(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE),
                  nullptr);
    }

    HANDLE OpenAndRegister(const std::u16string& path)
    {
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        EXPECT_NE(file, INVALID_HANDLE_VALUE);
        DEV_BROADCAST_HANDLE filter{};
        filter.dbch_size = sizeof(filter);
        filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
        filter.dbch_handle = file;
        EXPECT_NE(RegisterDeviceNotificationW(m_window->Window(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE),
                  nullptr);
        return file;
    }

    std::vector<Event> Events()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_events;
    }

    std::unique_ptr<PumpingWindow> m_window;
    std::mutex m_lock;
    std::vector<Event> m_events;
};

} // namespace

TEST_F(DeviceChanges, PluggingSendsArrivalWithTheInterfacePathBeforePlugReturns)
{
    machine::HidDeviceDescription description;
    description.reportDescriptor = GamePadDescriptor();
    uint32_t id = machine::Machine::Instance().PlugDevice(description);
    ASSERT_NE(id, 0u);
    auto events = Events(); // no waiting: the arrival was sent, not posted
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event, static_cast<WPARAM>(DBT_DEVICEARRIVAL));
    EXPECT_EQ(events[0].type, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
    EXPECT_EQ(events[0].path, machine::Machine::Instance().InterfacePaths(id).at(0));
    EXPECT_EQ(events[0].thread, m_window->ThreadId());
}

TEST_F(DeviceChanges, AnOrderlyRemovalQueriesTheHandleFirstThenCompletes)
{
    machine::HidDeviceDescription description;
    description.reportDescriptor = GamePadDescriptor();
    uint32_t id = machine::Machine::Instance().PlugDevice(description);
    HANDLE file = OpenAndRegister(machine::Machine::Instance().InterfacePaths(id).at(0));
    ASSERT_TRUE(machine::Machine::Instance().UnplugDevice(id, machine::Removal::Orderly));
    auto events = Events();
    ASSERT_EQ(events.size(), 5u);
    const WPARAM expected[] = {DBT_DEVICEARRIVAL, DBT_DEVICEQUERYREMOVE, DBT_DEVICEREMOVEPENDING,
                               DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEREMOVECOMPLETE};
    const DWORD types[] = {DBT_DEVTYP_DEVICEINTERFACE, DBT_DEVTYP_HANDLE, DBT_DEVTYP_HANDLE,
                           DBT_DEVTYP_HANDLE, DBT_DEVTYP_DEVICEINTERFACE};
    for (size_t i = 0; i < 5; ++i)
    {
        EXPECT_EQ(events[i].event, expected[i]) << i;
        EXPECT_EQ(events[i].type, types[i]) << i;
        if (types[i] == DBT_DEVTYP_HANDLE)
            EXPECT_EQ(events[i].handle, file);
    }
    CloseHandle(file);
}

TEST_F(DeviceChanges, ASurpriseRemovalSendsOnlyTheRemoveCompletes)
{
    machine::HidDeviceDescription description;
    description.reportDescriptor = GamePadDescriptor();
    uint32_t id = machine::Machine::Instance().PlugDevice(description);
    HANDLE file = OpenAndRegister(machine::Machine::Instance().InterfacePaths(id).at(0));
    ASSERT_TRUE(machine::Machine::Instance().UnplugDevice(id, machine::Removal::Surprise));
    auto events = Events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].event, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
    EXPECT_EQ(events[1].handle, file);
    EXPECT_EQ(events[2].event, static_cast<WPARAM>(DBT_DEVICEREMOVECOMPLETE));
    EXPECT_EQ(events[2].type, static_cast<DWORD>(DBT_DEVTYP_DEVICEINTERFACE));
    CloseHandle(file);
}
