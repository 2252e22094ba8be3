// The registry of the machine: the local-machine hive, one hive per user, and the open keys.
// HKEY_CURRENT_USER names the hive of the calling thread's effective user at each call, so a
// thread that impersonates the console user sees that user's hive.
#pragma once

#include "src/advapi32/RegistryKey.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>

namespace winport::advapi32
{

class RegistryStore
{
public:
    static RegistryStore& Instance();

    LSTATUS Open(HKEY parent, LPCWSTR subKey, PHKEY result);
    LSTATUS Create(HKEY parent, LPCWSTR subKey, PHKEY result, LPDWORD disposition);
    LSTATUS Close(HKEY key);
    LSTATUS Query(HKEY key, LPCWSTR valueName, LPDWORD type, LPBYTE data, LPDWORD size);
    LSTATUS Set(HKEY key, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD size);
    LSTATUS DeleteValue(HKEY key, LPCWSTR valueName);
    LSTATUS DeleteKey(HKEY parent, LPCWSTR subKey);

    // Control side: the key at `path` under a hive root, created when `create` is set.
    std::shared_ptr<RegistryKey> Walk(const std::shared_ptr<RegistryKey>& root, const std::u16string& path,
                                      bool create);
    std::shared_ptr<RegistryKey> LocalMachine() { return m_localMachine; }
    std::mutex& Lock() { return m_lock; }
    size_t OpenKeyCount();

private:
    RegistryStore();
    // The key a handle names (a predefined key resolved for the calling thread), or null.
    std::shared_ptr<RegistryKey> ResolveLocked(HKEY key);
    // The key behind a handle, if it is open and not deleted: ERROR_SUCCESS, ERROR_INVALID_HANDLE or
    // ERROR_KEY_DELETED.
    LSTATUS ResolveLiveLocked(HKEY key, std::shared_ptr<RegistryKey>& node);
    HKEY AddHandleLocked(std::shared_ptr<RegistryKey> key);

    std::mutex m_lock;
    std::shared_ptr<RegistryKey> m_localMachine;
    std::map<HKEY, std::shared_ptr<RegistryKey>> m_handles;
    ULONG_PTR m_nextHandle = 0x1A4;
};

} // namespace winport::advapi32
