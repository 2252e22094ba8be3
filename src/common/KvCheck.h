// Failed checks of the library's invariants, logged through KvDebugLog and never stopping the program:
//   "ASSERT(<condition>) failed in "<file>" at line <n> function <Class::Function>"
//   "VERIFY(<expression>) failed in "<file>" at line <n> function <Class::Function> HRESULT:0x<status>"
// The file is the source file's name without extension, the function the qualified name, derived from
// __PRETTY_FUNCTION__ on every build.
#pragma once

#include <windows.h>

#include <string>

class KvCheck
{
public:
    static void AssertFailed(const char* condition, const char* file, int line, const char* prettyFunction);
    static void VerifyFailed(const char* expression, const char* file, int line, const char* prettyFunction,
                             DWORD status);

    // "unsigned int CKvHidFilterMgmt::Initialize()" -> "CKvHidFilterMgmt::Initialize"
    static std::basic_string<WCHAR> QualifiedName(const char* prettyFunction);
    // ".../src/api/KvHidRaw.cpp" -> "KvHidRaw"
    static std::basic_string<WCHAR> FileStem(const char* path);
};

// Evaluates the condition; logs the failed check when it is false.
#define KV_ASSERT(condition)                                                                                 \
    ((condition) ? (void)0 : KvCheck::AssertFailed(#condition, __FILE__, __LINE__, __PRETTY_FUNCTION__))

// Evaluates a status; logs the failed check when it is not 0.
#define KV_VERIFY(status)                                                                                    \
    do                                                                                                       \
    {                                                                                                        \
        const DWORD kvVerifyStatus = static_cast<DWORD>(status);                                             \
        if (kvVerifyStatus != 0)                                                                             \
            KvCheck::VerifyFailed(#status, __FILE__, __LINE__, __PRETTY_FUNCTION__, kvVerifyStatus);         \
    } while (0)
