// The registry as the device-name lookup reads it, and the console user's impersonation.
#include <machine/DesktopControl.h>
#include <windows.h>
#include <wtsapi32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace machine = winport::machine;

namespace
{

const char16_t kOemKey[] =
    u"System\\CurrentControlSet\\Control\\MediaProperties\\PrivateProperties\\Joystick\\OEM";

std::u16string ReadString(HKEY root, const std::u16string& path, const char16_t* value, LSTATUS& status)
{
    HKEY key;
    status = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return {};
    char16_t text[131] = {};
    DWORD size = 260;
    status = RegQueryValueExW(key, value, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::u16string(text) : std::u16string();
}

// The console user's token, impersonated on this thread; returns false when there is none.
bool ImpersonateConsoleUser()
{
    HANDLE user;
    if (!WTSQueryUserToken(WTSGetActiveConsoleSessionId(), &user))
        return false;
    HANDLE duplicate = nullptr;
    BOOL ok = DuplicateTokenEx(user, 0, nullptr, SecurityImpersonation, TokenPrimary, &duplicate);
    CloseHandle(user);
    if (!ok)
        return false;
    ok = ImpersonateLoggedOnUser(duplicate);
    CloseHandle(duplicate); // the impersonation outlives the handle
    return ok != FALSE;
}

} // namespace

TEST(Registry, AFreshMachineHasNoJoystickOemKey)
{
    HKEY key = reinterpret_cast<HKEY>(0x1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kOemKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr) << "a failed open leaves a null key";
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kOemKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(ImpersonateConsoleUser());
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kOemKey, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    RevertToSelf();
}

TEST(Registry, QueryValueAnswersSizesMoreDataAndMissingValues)
{
    std::u16string path = std::u16string(kOemKey) + u"\\VID_0012&PID_00AB";
    ASSERT_TRUE(machine::SetRegistryString(machine::Hive::LocalMachine, path, u"OEMName", u"Pad"));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            u"system\\currentcontrolset\\control\\mediaproperties\\"
                            u"privateproperties\\joystick\\oem\\vid_0012&pid_00ab",
                            0, KEY_READ, &key),
              ERROR_SUCCESS)
        << "names ignore case";

    DWORD type = 0, size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"OEMName", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 8u) << "three characters and the terminator";

    BYTE small[4];
    size = sizeof(small);
    EXPECT_EQ(RegQueryValueExW(key, u"OEMName", nullptr, &type, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 8u);

    char16_t text[8] = {};
    size = sizeof(text);
    EXPECT_EQ(RegQueryValueExW(key, u"oemname", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(std::u16string(text), u"Pad");

    EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExW(key, u"OEMName", nullptr, nullptr, reinterpret_cast<BYTE*>(text), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(machine::OpenDesktopResources().registryKeys, 1u);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(key, u"OEMName", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
    EXPECT_EQ(machine::OpenDesktopResources().registryKeys, 0u);
}

TEST(Registry, ADeletedKeyAnswersKeyDeletedThroughItsOpenHandle)
{
    ASSERT_TRUE(machine::SetRegistryString(machine::Hive::LocalMachine, u"A\\B", u"V", u"x"));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"A\\B", 0, KEY_READ, &key), ERROR_SUCCESS);
    ASSERT_TRUE(machine::DeleteRegistryKey(machine::Hive::LocalMachine, u"A"));
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"V", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    RegCloseKey(key);
}

TEST(Impersonation, CurrentUserIsTheConsoleUsersHiveOnlyWhileImpersonating)
{
    ASSERT_TRUE(machine::SetRegistryString(machine::Hive::ConsoleUser, kOemKey, u"Probe", u"console"));
    ASSERT_TRUE(machine::SetRegistryString(machine::Hive::ProcessUser, u"Software", u"Probe", u"service"));
    LSTATUS status;
    ReadString(HKEY_CURRENT_USER, kOemKey, u"Probe", status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND) << "without impersonation HKCU is the service's own hive";

    ASSERT_TRUE(ImpersonateConsoleUser());
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kOemKey, u"Probe", status), u"console");
    // Impersonation belongs to the thread that asked for it.
    std::thread other(
        [&]
        {
            LSTATUS otherStatus;
            EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Software", u"Probe", otherStatus), u"service");
        });
    other.join();
    EXPECT_TRUE(RevertToSelf());
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"Software", u"Probe", status), u"service");
    EXPECT_TRUE(RevertToSelf()) << "reverting without impersonation succeeds";
}

TEST(Impersonation, WithoutAConsoleUserThereIsNoTokenToImpersonate)
{
    machine::RemoveConsoleUser();
    EXPECT_EQ(WTSGetActiveConsoleSessionId(), 1u);
    HANDLE token = reinterpret_cast<HANDLE>(0x1);
    SetLastError(0);
    EXPECT_FALSE(WTSQueryUserToken(WTSGetActiveConsoleSessionId(), &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
    EXPECT_FALSE(WTSQueryUserToken(1, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(machine::SetRegistryString(machine::Hive::ConsoleUser, u"X", u"Y", u"Z"));

    // Logging the same user on again finds the hive as it was.
    machine::SetConsoleUser(u"Alice");
    ASSERT_TRUE(machine::SetRegistryString(machine::Hive::ConsoleUser, u"X", u"Y", u"alice"));
    machine::SetConsoleUser(u"Bob");
    LSTATUS status;
    ASSERT_TRUE(ImpersonateConsoleUser());
    ReadString(HKEY_CURRENT_USER, u"X", u"Y", status);
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND) << "Bob's hive is not Alice's";
    RevertToSelf();
    machine::SetConsoleUser(u"alice");
    ASSERT_TRUE(ImpersonateConsoleUser());
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, u"X", u"Y", status), u"alice");
    RevertToSelf();
}

TEST(Tokens, TokensAreHandlesThatCloseHandleReleases)
{
    HANDLE token;
    ASSERT_TRUE(WTSQueryUserToken(1, &token));
    HANDLE duplicate;
    ASSERT_TRUE(DuplicateTokenEx(token, 0, nullptr, SecurityImpersonation, TokenPrimary, &duplicate));
    EXPECT_NE(duplicate, token);
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_TRUE(CloseHandle(duplicate));
    EXPECT_FALSE(CloseHandle(duplicate));
    EXPECT_FALSE(DuplicateTokenEx(duplicate, 0, nullptr, SecurityImpersonation, TokenPrimary, &token));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(ImpersonateLoggedOnUser(duplicate));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}
