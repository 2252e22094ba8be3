// The users of the machine: the account the process runs under (a service), the user logged on
// at the console (who may be absent), and which of them each thread acts as.
#pragma once

#include "src/advapi32/RegistryKey.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace winport::advapi32
{

struct User : std::enable_shared_from_this<User>
{
    std::u16string name;
    std::shared_ptr<RegistryKey> hive; // HKEY_CURRENT_USER while this user is in force
};

class UserSessions
{
public:
    static constexpr DWORD kConsoleSession = 1;

    static UserSessions& Instance();

    std::shared_ptr<User> ProcessUser();
    std::shared_ptr<User> ConsoleUser(); // null when nobody is logged on
    void SetConsoleUser(const std::u16string& name);
    void RemoveConsoleUser();

    // The user whose hive HKEY_CURRENT_USER names for the calling thread.
    std::shared_ptr<User> EffectiveUser();
    void Impersonate(std::shared_ptr<User> user);
    void Revert();

private:
    UserSessions();
    // The profile of a user by name, created on first use; the process user's name is "SYSTEM".
    std::shared_ptr<User> ProfileLocked(const std::u16string& name);

    std::mutex m_lock;
    std::shared_ptr<User> m_processUser;
    std::shared_ptr<User> m_consoleUser;
    std::map<std::u16string, std::shared_ptr<User>> m_knownUsers; // profiles stay when users log off
};

} // namespace winport::advapi32
