// One key of a registry hive: its values and subkeys, found without regard to case.
#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace winport::advapi32
{

struct RegistryValue
{
    DWORD type;
    std::vector<BYTE> data;
};

struct RegistryKey
{
    std::u16string name;
    std::map<std::u16string, std::shared_ptr<RegistryKey>> subkeys; // by upper-cased name
    std::map<std::u16string, RegistryValue> values;                 // by upper-cased name
    bool deleted = false;
};

// Registry names compare without regard to case.
std::u16string FoldName(const std::u16string& name);

} // namespace winport::advapi32
