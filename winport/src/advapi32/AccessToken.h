// An access token: the handle kind that WTSQueryUserToken and DuplicateTokenEx hand out.
#pragma once

#include "src/advapi32/UserSessions.h"
#include "src/kernel32/KernelObject.h"

#include <windows.h>

#include <memory>

namespace winport::advapi32
{

class AccessToken : public kernel32::KernelObject
{
public:
    AccessToken(std::shared_ptr<User> user, TOKEN_TYPE type, SECURITY_IMPERSONATION_LEVEL level)
        : m_user(std::move(user)), m_type(type), m_level(level)
    {
    }

    const char* KindName() const override { return "token"; }

    const std::shared_ptr<User>& Owner() const { return m_user; }
    TOKEN_TYPE Type() const { return m_type; }
    SECURITY_IMPERSONATION_LEVEL Level() const { return m_level; }

private:
    std::shared_ptr<User> m_user;
    TOKEN_TYPE m_type;
    SECURITY_IMPERSONATION_LEVEL m_level;
};

} // namespace winport::advapi32
