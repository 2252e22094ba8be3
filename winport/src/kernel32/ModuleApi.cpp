// kernel32: GetModuleHandleW over the loaded ELF objects.
//
// A module handle is the load address of the object, as on Windows. A null name gives the
// executable. A name matches an object whose file name, without directory, a leading "lib" and the
// ".so"/".dll" suffix (and any version after ".so"), equals the name without its ".dll" suffix,
// compared without regard to case: "Example.dll" finds libExample.so.
#include <windows.h>

#include <link.h>

#include <algorithm>
#include <cctype>
#include <string>

namespace
{

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string StemOfModuleName(const char16_t* name)
{
    std::string narrow;
    for (const char16_t* p = name; *p; ++p)
        narrow.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
    narrow = Lower(narrow);
    auto slash = narrow.find_last_of("\\/");
    if (slash != std::string::npos)
        narrow.erase(0, slash + 1);
    if (narrow.size() > 4 && narrow.compare(narrow.size() - 4, 4, ".dll") == 0)
        narrow.erase(narrow.size() - 4);
    return narrow;
}

std::string StemOfObjectPath(const char* path)
{
    std::string name = Lower(path);
    auto slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    if (name.compare(0, 3, "lib") == 0)
        name.erase(0, 3);
    auto so = name.find(".so");
    if (so != std::string::npos)
        name.erase(so);
    return name;
}

struct Search
{
    std::string stem;
    HMODULE found = nullptr;
};

int Visit(dl_phdr_info* info, size_t, void* data)
{
    auto* search = static_cast<Search*>(data);
    if (info->dlpi_name == nullptr || info->dlpi_name[0] == 0)
        return 0;
    if (StemOfObjectPath(info->dlpi_name) != search->stem)
        return 0;
    search->found = reinterpret_cast<HMODULE>(info->dlpi_addr);
    return 1;
}

int VisitExecutable(dl_phdr_info* info, size_t, void* data)
{
    // The first object listed is the executable. A non-PIE executable loads at 0: use its first
    // segment's address instead.
    HMODULE base = reinterpret_cast<HMODULE>(info->dlpi_addr);
    if (base == nullptr && info->dlpi_phnum > 0)
        base = reinterpret_cast<HMODULE>(info->dlpi_phdr[0].p_vaddr & ~static_cast<ElfW(Addr)>(0xfff));
    *static_cast<HMODULE*>(data) = base;
    return 1;
}

} // namespace

extern "C" HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName)
{
    if (lpModuleName == nullptr)
    {
        HMODULE executable = nullptr;
        dl_iterate_phdr(VisitExecutable, &executable);
        return executable;
    }
    Search search{StemOfModuleName(lpModuleName)};
    dl_iterate_phdr(Visit, &search);
    if (search.found == nullptr)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return search.found;
}
