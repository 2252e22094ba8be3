#include "src/advapi32/UserSessions.h"

namespace winport::advapi32
{

namespace
{
// Impersonation is per thread, as on Windows. A plain pointer (nothing to destroy at thread exit):
// users are never deleted, the profiles keep them.
thread_local User* t_impersonated = nullptr;

std::shared_ptr<User> MakeUser(const std::u16string& name)
{
    auto user = std::make_shared<User>();
    user->name = name;
    user->hive = std::make_shared<RegistryKey>();
    return user;
}
} // namespace

UserSessions& UserSessions::Instance()
{
    static UserSessions* instance = new UserSessions;
    return *instance;
}

UserSessions::UserSessions()
{
    // A fresh machine: the process runs as the system service account and a user is logged on.
    m_processUser = MakeUser(u"SYSTEM");
    SetConsoleUser(u"User");
}

std::shared_ptr<User> UserSessions::ProcessUser()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_processUser;
}

std::shared_ptr<User> UserSessions::ConsoleUser()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_consoleUser;
}

std::shared_ptr<User> UserSessions::ProfileLocked(const std::u16string& name)
{
    if (FoldName(name) == FoldName(m_processUser->name))
        return m_processUser;
    auto& known = m_knownUsers[FoldName(name)];
    if (!known)
        known = MakeUser(name);
    return known;
}

void UserSessions::SetConsoleUser(const std::u16string& name)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_consoleUser = ProfileLocked(name);
}

void UserSessions::RemoveConsoleUser()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_consoleUser.reset();
}

std::shared_ptr<User> UserSessions::EffectiveUser()
{
    if (t_impersonated)
        return t_impersonated->shared_from_this();
    return ProcessUser();
}

void UserSessions::Impersonate(std::shared_ptr<User> user)
{
    t_impersonated = user.get();
}

void UserSessions::Revert()
{
    t_impersonated = nullptr;
}

} // namespace winport::advapi32
