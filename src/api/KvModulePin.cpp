#include "KvModulePin.h"

#if defined(_WIN32)
#include <windows.h>

#include "KvCommon.h"
#include "KvHidRaw.h"

namespace
{
bool PinModuleOf(const void* address)
{
    HMODULE module = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              static_cast<LPCWSTR>(address), &module) != FALSE;
}
} // namespace

bool CKvModulePin::PinLibraryModules()
{
    const bool library = PinModuleOf(reinterpret_cast<const void*>(&KvHRInitialize));
    const bool common = PinModuleOf(reinterpret_cast<const void*>(&KvDebugLogString));
    return library && common;
}
#else
bool CKvModulePin::PinLibraryModules()
{
    return false;
}
#endif
