#include "src/advapi32/RegistryStore.h"

#include "src/advapi32/UserSessions.h"

#include <cstring>

namespace winport::advapi32
{

namespace
{

bool IsPredefined(HKEY key)
{
    return (reinterpret_cast<ULONG_PTR>(key) & 0xFFFFFFFF80000000ull) == 0xFFFFFFFF80000000ull;
}

std::u16string ValueKey(LPCWSTR name)
{
    return FoldName(name ? name : u"");
}

} // namespace

RegistryStore& RegistryStore::Instance()
{
    static RegistryStore* instance = new RegistryStore;
    return *instance;
}

RegistryStore::RegistryStore() : m_localMachine(std::make_shared<RegistryKey>()) {}

std::shared_ptr<RegistryKey> RegistryStore::ResolveLocked(HKEY key)
{
    if (key == HKEY_LOCAL_MACHINE)
        return m_localMachine;
    if (key == HKEY_CURRENT_USER)
        return UserSessions::Instance().EffectiveUser()->hive;
    if (IsPredefined(key))
        return nullptr;
    auto it = m_handles.find(key);
    return it == m_handles.end() ? nullptr : it->second;
}

LSTATUS RegistryStore::ResolveLiveLocked(HKEY key, std::shared_ptr<RegistryKey>& node)
{
    node = ResolveLocked(key);
    if (!node)
        return ERROR_INVALID_HANDLE;
    return node->deleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

HKEY RegistryStore::AddHandleLocked(std::shared_ptr<RegistryKey> key)
{
    HKEY handle = reinterpret_cast<HKEY>(m_nextHandle);
    m_nextHandle += 4;
    m_handles[handle] = std::move(key);
    return handle;
}

std::shared_ptr<RegistryKey> RegistryStore::Walk(const std::shared_ptr<RegistryKey>& root,
                                                 const std::u16string& path, bool create)
{
    auto key = root;
    size_t start = 0;
    while (key && start <= path.size())
    {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos)
            end = path.size();
        std::u16string part = path.substr(start, end - start);
        start = end + 1;
        if (part.empty())
            continue;
        auto& slot = key->subkeys[FoldName(part)];
        if (!slot && create)
        {
            slot = std::make_shared<RegistryKey>();
            slot->name = part;
        }
        if (!slot)
        {
            key->subkeys.erase(FoldName(part));
            return nullptr;
        }
        key = slot;
    }
    return key;
}

LSTATUS RegistryStore::Open(HKEY parent, LPCWSTR subKey, PHKEY result)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::lock_guard<std::mutex> guard(m_lock);
    std::shared_ptr<RegistryKey> base;
    if (LSTATUS status = ResolveLiveLocked(parent, base))
        return status;
    auto key = Walk(base, subKey ? subKey : u"", false);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    *result = AddHandleLocked(key);
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::Create(HKEY parent, LPCWSTR subKey, PHKEY result, LPDWORD disposition)
{
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(m_lock);
    std::shared_ptr<RegistryKey> base;
    if (LSTATUS status = ResolveLiveLocked(parent, base))
        return status;
    bool existed = Walk(base, subKey ? subKey : u"", false) != nullptr;
    auto key = Walk(base, subKey ? subKey : u"", true);
    *result = AddHandleLocked(key);
    if (disposition)
        *disposition = existed ? REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY;
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::Close(HKEY key)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (IsPredefined(key))
        return ERROR_SUCCESS;
    return m_handles.erase(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LSTATUS RegistryStore::Query(HKEY key, LPCWSTR valueName, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (data != nullptr && size == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(m_lock);
    std::shared_ptr<RegistryKey> node;
    if (LSTATUS status = ResolveLiveLocked(key, node))
        return status;
    auto it = node->values.find(ValueKey(valueName));
    if (it == node->values.end())
        return ERROR_FILE_NOT_FOUND;
    const RegistryValue& value = it->second;
    DWORD needed = static_cast<DWORD>(value.data.size());
    if (type)
        *type = value.type;
    if (data == nullptr)
    {
        if (size)
            *size = needed;
        return ERROR_SUCCESS;
    }
    if (*size < needed)
    {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, value.data.data(), needed);
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::Set(HKEY key, LPCWSTR valueName, DWORD type, const BYTE* data, DWORD size)
{
    if (data == nullptr && size != 0)
        return ERROR_NOACCESS;
    std::lock_guard<std::mutex> guard(m_lock);
    std::shared_ptr<RegistryKey> node;
    if (LSTATUS status = ResolveLiveLocked(key, node))
        return status;
    node->values[ValueKey(valueName)] = RegistryValue{type, std::vector<BYTE>(data, data + size)};
    return ERROR_SUCCESS;
}

LSTATUS RegistryStore::DeleteValue(HKEY key, LPCWSTR valueName)
{
    std::lock_guard<std::mutex> guard(m_lock);
    std::shared_ptr<RegistryKey> node;
    if (LSTATUS status = ResolveLiveLocked(key, node))
        return status;
    return node->values.erase(ValueKey(valueName)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS RegistryStore::DeleteKey(HKEY parent, LPCWSTR subKey)
{
    if (subKey == nullptr)
        return ERROR_INVALID_PARAMETER;
    std::lock_guard<std::mutex> guard(m_lock);
    auto base = ResolveLocked(parent);
    if (!base)
        return ERROR_INVALID_HANDLE;
    std::u16string path(subKey);
    size_t cut = path.rfind(u'\\');
    auto owner = cut == std::u16string::npos ? base : Walk(base, path.substr(0, cut), false);
    std::u16string leaf = cut == std::u16string::npos ? path : path.substr(cut + 1);
    auto it = owner ? owner->subkeys.find(FoldName(leaf)) : decltype(owner->subkeys.end()){};
    if (!owner || it == owner->subkeys.end())
        return ERROR_FILE_NOT_FOUND;
    // As on Windows, only a key without subkeys can be deleted; open handles to it go stale.
    if (!it->second->subkeys.empty())
        return ERROR_ACCESS_DENIED;
    it->second->deleted = true;
    owner->subkeys.erase(it);
    return ERROR_SUCCESS;
}

size_t RegistryStore::OpenKeyCount()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_handles.size();
}

} // namespace winport::advapi32
