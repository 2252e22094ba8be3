// SetupAPI and the configuration manager over the machine's devices: what an enumeration lists,
// the size-query protocol, properties, instance ids, install states and their last errors.
#include <cfgmgr32.h>
#include <hidsdi.h>
#include <setupapi.h>
#include <windows.h>

#include "TestDescriptors.h"
#include "WaitUntil.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

using winport::machine::HidDeviceDescription;
using winport::machine::Machine;
using winport::machine::Removal;

namespace
{

template <typename T> T Sized()
{
    T data{};
    data.cbSize = sizeof(T);
    return data;
}

GUID HidGuid()
{
    GUID guid;
    HidD_GetHidGuid(&guid);
    return guid;
}

HDEVINFO PresentHidInterfaces()
{
    GUID guid = HidGuid();
    return SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
}

// Every interface path of the set, through the documented two-call protocol.
std::vector<std::u16string> Paths(HDEVINFO set)
{
    GUID guid = HidGuid();
    std::vector<std::u16string> paths;
    auto data = Sized<SP_DEVICE_INTERFACE_DATA>();
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &data); ++i)
    {
        DWORD size = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        std::vector<BYTE> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
        paths.emplace_back(detail->DevicePath);
    }
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    return paths;
}

HidDeviceDescription GamePad()
{
    HidDeviceDescription description;
    description.reportDescriptor = GamePadDescriptor();
    description.instanceKey = "1a2b3c4d";
    return description;
}

TEST(SetupApiEnumeration, AFreshMachineHasNoHidDevice)
{
    HDEVINFO set = PresentHidInterfaces();
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Paths(set).empty());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST(SetupApiEnumeration, InterfacesHaveWindowsFormPathsOnePerTopLevelCollection)
{
    uint32_t pad = Machine::Instance().PlugDevice(GamePad());
    HidDeviceDescription two;
    two.vendorId = 0x045e;
    two.productId = 0x028e;
    two.reportDescriptor = TwoCollectionDescriptor();
    two.instanceKey = "00aa11bb";
    ASSERT_NE(pad, 0u);
    ASSERT_NE(Machine::Instance().PlugDevice(two), 0u);
    HDEVINFO set = PresentHidInterfaces();
    auto paths = Paths(set);
    ASSERT_EQ(paths.size(), 3u);
    EXPECT_EQ(paths[0],
              u"\\\\?\\hid#vid_1234&pid_5678#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(paths[1],
              u"\\\\?\\hid#vid_045e&pid_028e&col01#7&00aa11bb&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    EXPECT_EQ(paths[2],
              u"\\\\?\\hid#vid_045e&pid_028e&col02#7&00aa11bb&0&0001#{4d1e55b2-f16f-11cf-88cb-001111000030}");
    // Device information element i is the instance of interface i.
    auto info = Sized<SP_DEVINFO_DATA>();
    WCHAR id[256];
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 1, &info));
    ASSERT_TRUE(SetupDiGetDeviceInstanceIdW(set, &info, id, 256, nullptr));
    EXPECT_EQ(std::u16string(id), u"HID\\VID_045E&PID_028E&COL01\\7&00AA11BB&0&0000");
    EXPECT_NE(info.DevInst, 0u);
    EXPECT_FALSE(SetupDiEnumDeviceInfo(set, 3, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    SetupDiDestroyDeviceInfoList(set);

    Machine::Instance().UnplugDevice(pad, Removal::Surprise);
    set = PresentHidInterfaces();
    EXPECT_EQ(Paths(set).size(), 2u);
    SetupDiDestroyDeviceInfoList(set);
}

TEST(SetupApiEnumeration, DetailSizeProtocolAndItsErrors)
{
    Machine::Instance().PlugDevice(GamePad());
    HDEVINFO set = PresentHidInterfaces();
    GUID guid = HidGuid();
    auto data = Sized<SP_DEVICE_INTERFACE_DATA>();
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &data));
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    const std::u16string path =
        u"\\\\?\\hid#vid_1234&pid_5678#7&1a2b3c4d&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    EXPECT_EQ(size, 4 + (path.size() + 1) * 2);

    std::vector<BYTE> buffer(size);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
    detail->cbSize = size; // the whole buffer's size is wrong: cbSize is the structure's
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size - 2, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, size, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    auto info = Sized<SP_DEVINFO_DATA>();
    EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, &info));
    EXPECT_EQ(std::u16string(detail->DevicePath), path);
    EXPECT_NE(info.DevInst, 0u);

    auto badSize = Sized<SP_DEVICE_INTERFACE_DATA>();
    badSize.cbSize += 4;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &badSize));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &guid, 0, &data));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(SetupApiEnumeration, PropertiesMayBeMissingAndReportTheirSize)
{
    HidDeviceDescription description = GamePad();
    description.friendlyName.reset();
    description.deviceDescription = u"Race Wheel";
    Machine::Instance().PlugDevice(description);
    HDEVINFO set = PresentHidInterfaces();
    auto info = Sized<SP_DEVINFO_DATA>();
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    BYTE buffer[512];
    DWORD type = 0, size = 0;
    EXPECT_FALSE(
        SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, &type, buffer, 512, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_FALSE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, &type, nullptr, 0, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(size, sizeof(u"Race Wheel"));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_TRUE(
        SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_DEVICEDESC, nullptr, buffer, 512, nullptr));
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(buffer)), u"Race Wheel");
    DWORD state = 99;
    EXPECT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_INSTALL_STATE, &type,
                                                  reinterpret_cast<BYTE*>(&state), sizeof state, nullptr));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(state, static_cast<DWORD>(CM_INSTALL_STATE_INSTALLED));
    WCHAR small[8];
    DWORD needed = 0;
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &info, small, 8, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, wcslen(u"HID\\VID_1234&PID_5678\\7&1A2B3C4D&0&0000") + 1);
    auto foreign = Sized<SP_DEVINFO_DATA>();
    EXPECT_FALSE(SetupDiGetDeviceInstanceIdW(set, &foreign, small, 8, &needed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetupDiDestroyDeviceInfoList(set);
}

TEST(SetupApiEnumeration, ANullClassWithoutAllClassesIsRejected)
{
    SetLastError(0);
    EXPECT_EQ(SetupDiGetClassDevsW(nullptr, nullptr, nullptr, DIGCF_PRESENT), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ConfigManager, PendingInstallationShowsInStateStatusAndWait)
{
    HidDeviceDescription description = GamePad();
    description.installPending = true;
    uint32_t id = Machine::Instance().PlugDevice(description);
    HDEVINFO set = PresentHidInterfaces();
    auto info = Sized<SP_DEVINFO_DATA>();
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    DWORD state = 0;
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_INSTALL_STATE, nullptr,
                                                  reinterpret_cast<BYTE*>(&state), sizeof state, nullptr));
    EXPECT_EQ(state, static_cast<DWORD>(CM_INSTALL_STATE_FINISH_INSTALL));
    ULONG status = 0, problem = 0;
    ASSERT_EQ(CM_Get_DevNode_Status(&status, &problem, info.DevInst, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(status & DN_STARTED, 0u);
    EXPECT_EQ(CMP_WaitNoPendingInstallEvents(0), static_cast<DWORD>(WAIT_TIMEOUT));

    std::atomic<DWORD> waited{WAIT_FAILED};
    std::thread waiter([&] { waited = CMP_WaitNoPendingInstallEvents(INFINITE); });
    EXPECT_FALSE(WaitUntil([&] { return waited.load() != WAIT_FAILED; }, std::chrono::milliseconds(50)));
    Machine::Instance().FinishInstall(id);
    waiter.join();
    EXPECT_EQ(waited.load(), WAIT_OBJECT_0);
    ASSERT_EQ(CM_Get_DevNode_Status(&status, &problem, info.DevInst, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(status & (DN_DRIVER_LOADED | DN_STARTED), static_cast<ULONG>(DN_DRIVER_LOADED | DN_STARTED));
    // The set is a snapshot: a new one sees the finished installation.
    SetupDiDestroyDeviceInfoList(set);
    set = PresentHidInterfaces();
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    ASSERT_TRUE(SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_INSTALL_STATE, nullptr,
                                                  reinterpret_cast<BYTE*>(&state), sizeof state, nullptr));
    EXPECT_EQ(state, static_cast<DWORD>(CM_INSTALL_STATE_INSTALLED));
    SetupDiDestroyDeviceInfoList(set);
}

TEST(ConfigManager, ProblemsAndRemovedNodes)
{
    uint32_t id = Machine::Instance().PlugDevice(GamePad());
    HDEVINFO set = PresentHidInterfaces();
    auto info = Sized<SP_DEVINFO_DATA>();
    ASSERT_TRUE(SetupDiEnumDeviceInfo(set, 0, &info));
    SetupDiDestroyDeviceInfoList(set);
    Machine::Instance().SetDevNodeStatus(id, DN_HAS_PROBLEM, CM_PROB_FAILED_START);
    ULONG status = 0, problem = 0;
    ASSERT_EQ(CM_Get_DevNode_Status(&status, &problem, info.DevInst, 0), static_cast<CONFIGRET>(CR_SUCCESS));
    EXPECT_EQ(status, static_cast<ULONG>(DN_HAS_PROBLEM));
    EXPECT_EQ(problem, static_cast<ULONG>(CM_PROB_FAILED_START));
    EXPECT_EQ(CM_Get_DevNode_Status(&status, &problem, info.DevInst, 1),
              static_cast<CONFIGRET>(CR_INVALID_FLAG));
    EXPECT_EQ(CM_Get_DevNode_Status(nullptr, &problem, info.DevInst, 0),
              static_cast<CONFIGRET>(CR_INVALID_POINTER));
    Machine::Instance().UnplugDevice(id, Removal::Surprise);
    EXPECT_EQ(CM_Get_DevNode_Status(&status, &problem, info.DevInst, 0),
              static_cast<CONFIGRET>(CR_NO_SUCH_DEVINST));
    EXPECT_EQ(CMP_WaitNoPendingInstallEvents(0), WAIT_OBJECT_0);
}

} // namespace
