// Twin program: the registry's statuses and size protocol, and the console user's token. Built
// with mingw and run under Wine, and built natively against winport; both runs must print the
// same lines. It works under HKEY_CURRENT_USER\Software\KvTwinRegistry and removes it at the end.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>
#include <wtsapi32.h>

#include <cstdio>

namespace
{

const WCHAR kRoot[] = TEXT("Software\\KvTwinRegistry");
const WCHAR kSub[] = TEXT("Software\\KvTwinRegistry\\VID_0012&PID_00AB");

void Report(const char* what, long long value)
{
    std::printf("%s: %lld\n", what, value);
}

void Values()
{
    HKEY key = reinterpret_cast<HKEY>(0x1);
    Report("RegOpenKeyExW of a missing key", RegOpenKeyExW(HKEY_CURRENT_USER, kSub, 0, KEY_READ, &key));
    Report("its key is null", key == nullptr);

    DWORD disposition = 0;
    Report("RegCreateKeyExW", RegCreateKeyExW(HKEY_CURRENT_USER, kSub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                              &key, &disposition));
    Report("created", disposition == REG_CREATED_NEW_KEY);
    const WCHAR name[] = TEXT("Pad");
    Report("RegSetValueExW", RegSetValueExW(key, TEXT("OEMName"), 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(name), sizeof(name)));
    RegCloseKey(key);

    Report("RegOpenKeyExW ignoring case",
           RegOpenKeyExW(HKEY_CURRENT_USER, TEXT("software\\kvtwinregistry\\vid_0012&pid_00ab"), 0, KEY_READ,
                         &key));
    DWORD type = 0, size = 0;
    Report("size query", RegQueryValueExW(key, TEXT("OEMName"), nullptr, &type, nullptr, &size));
    Report("size", size);
    Report("type", type);
    BYTE small[4];
    size = sizeof(small);
    Report("small buffer", RegQueryValueExW(key, TEXT("OEMName"), nullptr, &type, small, &size));
    Report("size after ERROR_MORE_DATA", size);
    WCHAR text[131] = {};
    size = 260;
    Report("read",
           RegQueryValueExW(key, TEXT("oemname"), nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size));
    Report("size read", size);
    Report("text matches", text[0] == 'P' && text[1] == 'a' && text[2] == 'd' && text[3] == 0);
    Report("missing value", RegQueryValueExW(key, TEXT("Missing"), nullptr, nullptr, nullptr, &size));
    Report("buffer without size",
           RegQueryValueExW(key, TEXT("OEMName"), nullptr, nullptr, reinterpret_cast<BYTE*>(text), nullptr));

    HKEY parent;
    RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_ALL_ACCESS, &parent);
    Report("RegDeleteKeyW of the subkey", RegDeleteKeyW(parent, TEXT("VID_0012&PID_00AB")));
    Report("query through a deleted key",
           RegQueryValueExW(key, TEXT("OEMName"), nullptr, nullptr, nullptr, &size));
    Report("RegCloseKey", RegCloseKey(key));
    Report("RegCloseKey again", RegCloseKey(key));
    Report("RegCloseKey of a predefined key", RegCloseKey(HKEY_LOCAL_MACHINE));
    RegCloseKey(parent);
    Report("RegDeleteKeyW of the root", RegDeleteKeyW(HKEY_CURRENT_USER, kRoot));
    Report("RegDeleteKeyW again", RegDeleteKeyW(HKEY_CURRENT_USER, kRoot));
}

void Tokens()
{
    SetLastError(0);
    Report("WTSQueryUserToken without a handle", WTSQueryUserToken(WTSGetActiveConsoleSessionId(), nullptr));
    Report("its error", GetLastError());
    Report("RevertToSelf without impersonation", RevertToSelf());
    DWORD session = WTSGetActiveConsoleSessionId();
    Report("console session", session);
    HANDLE user = nullptr, duplicate = nullptr;
    Report("WTSQueryUserToken of the console user", WTSQueryUserToken(session, &user));
    Report("DuplicateTokenEx",
           DuplicateTokenEx(user, 0, nullptr, SecurityImpersonation, TokenPrimary, &duplicate));
    Report("CloseHandle of the user token", CloseHandle(user));
    Report("ImpersonateLoggedOnUser", ImpersonateLoggedOnUser(duplicate));
    Report("CloseHandle of the duplicate", CloseHandle(duplicate));
    Report("RevertToSelf", RevertToSelf());
    SetLastError(0);
    HANDLE token;
    Report("DuplicateTokenEx of a bad handle",
           DuplicateTokenEx(reinterpret_cast<HANDLE>(0x123450), 0, nullptr, SecurityImpersonation,
                            TokenPrimary, &token));
    Report("its error", GetLastError());
}

} // namespace

int main()
{
    Values();
    Tokens();
    return 0;
}
