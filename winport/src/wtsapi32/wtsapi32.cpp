// The console session and its user's token.
#include "src/advapi32/AccessToken.h"
#include "src/kernel32/HandleTable.h"

#include <wtsapi32.h>

using winport::advapi32::AccessToken;
using winport::advapi32::UserSessions;

extern "C"
{

    // The console session exists whether or not somebody is logged on to it.
    DWORD WINAPI WTSGetActiveConsoleSessionId(void)
    {
        return UserSessions::kConsoleSession;
    }

    BOOL WINAPI WTSQueryUserToken(ULONG sessionId, PHANDLE phToken)
    {
        if (phToken == nullptr)
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (sessionId != 0 && sessionId != UserSessions::kConsoleSession)
        {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
        // Session 0 holds only services; the console session may have nobody logged on.
        auto user = sessionId == 0 ? nullptr : UserSessions::Instance().ConsoleUser();
        if (!user)
        {
            SetLastError(ERROR_NO_TOKEN);
            return FALSE;
        }
        *phToken = winport::kernel32::HandleTable::Instance().Insert(
            std::make_shared<AccessToken>(user, TokenPrimary, SecurityImpersonation));
        return TRUE;
    }

} // extern "C"
