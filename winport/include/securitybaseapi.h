// Access tokens and impersonation (advapi32) for the native build.
#pragma once

#include "winport/basetypes.h"

typedef DWORD ACCESS_MASK;
struct _SECURITY_ATTRIBUTES;

typedef enum _SECURITY_IMPERSONATION_LEVEL
{
    SecurityAnonymous,
    SecurityIdentification,
    SecurityImpersonation,
    SecurityDelegation
} SECURITY_IMPERSONATION_LEVEL,
    *PSECURITY_IMPERSONATION_LEVEL;

typedef enum _TOKEN_TYPE
{
    TokenPrimary = 1,
    TokenImpersonation
} TOKEN_TYPE,
    *PTOKEN_TYPE;

#define TOKEN_ASSIGN_PRIMARY 0x0001
#define TOKEN_DUPLICATE 0x0002
#define TOKEN_IMPERSONATE 0x0004
#define TOKEN_QUERY 0x0008
#define TOKEN_ALL_ACCESS 0xF01FF
#ifndef MAXIMUM_ALLOWED
#define MAXIMUM_ALLOWED 0x02000000L
#endif

#ifdef __cplusplus
extern "C"
{
#endif

    BOOL WINAPI DuplicateTokenEx(HANDLE hExistingToken, DWORD dwDesiredAccess,
                                 struct _SECURITY_ATTRIBUTES* lpTokenAttributes,
                                 SECURITY_IMPERSONATION_LEVEL ImpersonationLevel, TOKEN_TYPE TokenType,
                                 PHANDLE phNewToken);
    BOOL WINAPI ImpersonateLoggedOnUser(HANDLE hToken);
    BOOL WINAPI RevertToSelf(void);

#ifdef __cplusplus
}
#endif
