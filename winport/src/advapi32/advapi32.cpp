// The exported advapi32 functions: registry reads and writes (which return their status and leave
// the last error alone, as on Windows), token duplication, impersonation.
#include "src/advapi32/AccessToken.h"
#include "src/advapi32/RegistryStore.h"
#include "src/kernel32/HandleTable.h"

using winport::advapi32::AccessToken;
using winport::advapi32::RegistryStore;
using winport::advapi32::UserSessions;
using winport::kernel32::HandleTable;

extern "C"
{

    LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult)
    {
        return RegistryStore::Instance().Open(hKey, lpSubKey, phkResult);
    }

    LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                    LPBYTE lpData, LPDWORD lpcbData)
    {
        if (lpReserved != nullptr)
            return ERROR_INVALID_PARAMETER;
        return RegistryStore::Instance().Query(hKey, lpValueName, lpType, lpData, lpcbData);
    }

    LSTATUS WINAPI RegCloseKey(HKEY hKey)
    {
        return RegistryStore::Instance().Close(hKey);
    }

    LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD reserved, LPWSTR, DWORD, REGSAM,
                                   struct _SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition)
    {
        if (reserved != 0)
            return ERROR_INVALID_PARAMETER;
        return RegistryStore::Instance().Create(hKey, lpSubKey, phkResult, lpdwDisposition);
    }

    LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                                  DWORD cbData)
    {
        return RegistryStore::Instance().Set(hKey, lpValueName, dwType, lpData, cbData);
    }

    LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName)
    {
        return RegistryStore::Instance().DeleteValue(hKey, lpValueName);
    }

    LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey)
    {
        return RegistryStore::Instance().DeleteKey(hKey, lpSubKey);
    }

    BOOL WINAPI DuplicateTokenEx(HANDLE hExistingToken, DWORD, struct _SECURITY_ATTRIBUTES*,
                                 SECURITY_IMPERSONATION_LEVEL impersonationLevel, TOKEN_TYPE tokenType,
                                 PHANDLE phNewToken)
    {
        auto token = HandleTable::Instance().LookupAs<AccessToken>(hExistingToken);
        if (!token)
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (phNewToken == nullptr || impersonationLevel > SecurityDelegation ||
            (tokenType != TokenPrimary && tokenType != TokenImpersonation))
        {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        // An impersonation token cannot be raised above the level of the token it comes from.
        if (token->Type() == TokenImpersonation && impersonationLevel > token->Level())
        {
            SetLastError(ERROR_BAD_IMPERSONATION_LEVEL);
            return FALSE;
        }
        *phNewToken = HandleTable::Instance().Insert(
            std::make_shared<AccessToken>(token->Owner(), tokenType, impersonationLevel));
        return TRUE;
    }

    BOOL WINAPI ImpersonateLoggedOnUser(HANDLE hToken)
    {
        auto token = HandleTable::Instance().LookupAs<AccessToken>(hToken);
        if (!token)
        {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (token->Type() == TokenImpersonation && token->Level() < SecurityImpersonation)
        {
            SetLastError(ERROR_BAD_IMPERSONATION_LEVEL);
            return FALSE;
        }
        // The thread keeps the user for itself: closing the token afterwards does not end it.
        UserSessions::Instance().Impersonate(token->Owner());
        return TRUE;
    }

    BOOL WINAPI RevertToSelf(void)
    {
        UserSessions::Instance().Revert();
        return TRUE;
    }

} // extern "C"
