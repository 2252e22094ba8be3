// Terminal-services session functions for the native build.
#pragma once

#include <windows.h>

#define WTS_CURRENT_SERVER_HANDLE ((HANDLE)NULL)

#ifdef __cplusplus
extern "C"
{
#endif

    // kernel32 on Windows; the console session belongs to the user model, so it lives with it here.
    DWORD WINAPI WTSGetActiveConsoleSessionId(void);
    BOOL WINAPI WTSQueryUserToken(ULONG SessionId, PHANDLE phToken);

#ifdef __cplusplus
}
#endif
