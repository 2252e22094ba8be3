// The display name of a physical device: the joystick OEM entries of the current user, of the console user,
// of the machine, and the fall-backs.
#include <gtest/gtest.h>

#include "DeviceTestSupport.h"

using namespace devtest;
using winport::machine::Hive;

namespace
{
const std::u16string kOem =
    u"System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM";

void SetOemName(Hive hive, const std::u16string& vidPid, const std::u16string& name)
{
    ASSERT_TRUE(winport::machine::SetRegistryString(hive, kOem + u"\\" + vidPid, u"OEMName", name));
}

// Starts the library with one joystick (vendor 0x0A1B, product 0x00C2: the key name needs upper-case digits
// and leading zeros) whose enumeration name is "Enumerated Stick".
void StartWithStick()
{
    ASSERT_NE(Plug(Description(JoystickDescriptor(), "Enumerated Stick", 0x0A1B, 0x00C2)), 0u);
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_EQ(DevicesList(), (std::vector<uint32_t>{0}));
}

const std::u16string kStickKey = u"VID_0A1B&PID_00C2";
} // namespace

TEST(NamingTest, TheCurrentUsersOemNameComesFirst)
{
    SetOemName(Hive::ProcessUser, kStickKey, u"Process User Stick");
    SetOemName(Hive::ConsoleUser, kStickKey, u"Console User Stick");
    SetOemName(Hive::LocalMachine, kStickKey, u"Machine Stick");
    StartWithStick();
    EXPECT_EQ(Narrow(DeviceName(0)), "Process User Stick");
    KvHRUnInitialize();
}

TEST(NamingTest, WithoutTheKeyForTheServiceAccountTheConsoleUsersNameIsReadUnderImpersonation)
{
    SetOemName(Hive::ConsoleUser, kStickKey, u"Console User Stick");
    SetOemName(Hive::LocalMachine, kStickKey, u"Machine Stick");
    StartWithStick();
    EXPECT_EQ(Narrow(DeviceName(0)), "Console User Stick");
    // The impersonation ended with the lookup: the next lookup starts again from the service's own hive.
    SetOemName(Hive::ProcessUser, kStickKey, u"Process User Stick");
    EXPECT_EQ(Narrow(DeviceName(0)), "Process User Stick");
    EXPECT_EQ(winport::machine::OpenDesktopResources().registryKeys, 0u);
    KvHRUnInitialize();
}

TEST(NamingTest, WithoutAnyUsersKeyTheMachinesNameServes)
{
    SetOemName(Hive::LocalMachine, kStickKey, u"Machine Stick");
    StartWithStick();
    EXPECT_EQ(Narrow(DeviceName(0)), "Machine Stick");
    // Nobody at the console: no impersonation, the machine's key still answers.
    winport::machine::RemoveConsoleUser();
    EXPECT_EQ(Narrow(DeviceName(0)), "Machine Stick");
    KvHRUnInitialize();
}

TEST(NamingTest, AnOemKeyWithoutTheDevicesEntryGivesTheGenericName)
{
    SetOemName(Hive::ConsoleUser, u"VID_0A1B&PID_00C3", u"Another Stick");
    StartWithStick();
    EXPECT_EQ(Narrow(DeviceName(0)), "HID Device");
    // An entry longer than 260 bytes is refused the same way.
    SetOemName(Hive::ConsoleUser, kStickKey, std::u16string(130, u'x'));
    EXPECT_EQ(Narrow(DeviceName(0)), "HID Device");
    SetOemName(Hive::ConsoleUser, kStickKey, std::u16string(129, u'y'));
    EXPECT_EQ(Narrow(DeviceName(0)), std::string(129, 'y'));
    KvHRUnInitialize();
}

TEST(NamingTest, WithNoOemKeyAnywhereTheEnumerationNameServes)
{
    StartWithStick();
    EXPECT_EQ(Narrow(DeviceName(0)), "Enumerated Stick");
    KvHRUnInitialize();
}

TEST(NamingTest, TheEnumerationNameIsTheFriendlyNameElseTheDescriptionElseEmptyWithAFailedCheck)
{
    HidDeviceDescription described = Description(JoystickDescriptor());
    described.deviceDescription = u"Described Stick";
    HidDeviceDescription anonymous = Description(JoystickDescriptor());
    anonymous.deviceDescription.reset();
    Plug(described);
    Plug(anonymous);
    LogCapture log;
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(Narrow(DeviceName(0)), "Described Stick");
    EXPECT_EQ(Narrow(DeviceName(1)), "");
    EXPECT_EQ(log.CountContaining(W("ASSERT(bRes) failed in \"KvHidDeviceMgmt\" at line ")), 1u);
    EXPECT_EQ(log.CountContaining(W("function CKvHidDeviceMgmt::FindKnownHidDevices")), 1u);
    KvHRUnInitialize();
}

TEST(NamingTest, NamesAreBlocksOfTheirOwnForTheApplication)
{
    StartWithStick();
    KvHRWChar* first = nullptr;
    KvHRWChar* second = nullptr;
    ASSERT_EQ(KvHRGetDeviceName(0, &first), 0u);
    ASSERT_EQ(KvHRGetDeviceName(0, &second), 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(DllAlloc::LiveBlocks(u"KvHRGetDeviceName"), 2u);
    EXPECT_EQ(KvHRFreeWithTag(first, u"KvHRGetDeviceName"), 0);
    EXPECT_EQ(KvHRFree(second), 0);
    EXPECT_EQ(DllAlloc::LiveBlocks(u"KvHRGetDeviceName"), 0u);
    KvHRUnInitialize();
}
