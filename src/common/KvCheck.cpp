#include "KvCheck.h"

#include "KvCommon.h"

#include <cstring>

namespace
{
std::basic_string<WCHAR> Widen(const char* begin, const char* end)
{
    std::basic_string<WCHAR> out;
    for (const char* p = begin; p < end; ++p)
        out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(*p)));
    return out;
}
} // namespace

std::basic_string<WCHAR> KvCheck::QualifiedName(const char* pretty)
{
    // The parameter list starts at the first '(' outside template brackets; the name is the last word
    // before it.
    const char* end = pretty;
    int depth = 0;
    for (; *end; ++end)
    {
        if (*end == '<')
            ++depth;
        else if (*end == '>')
            --depth;
        else if (*end == '(' && depth == 0)
            break;
    }
    const char* begin = end;
    depth = 0;
    while (begin > pretty)
    {
        const char c = begin[-1];
        if (c == '>')
            ++depth;
        else if (c == '<')
            --depth;
        else if ((c == ' ' || c == '*' || c == '&') && depth == 0)
            break;
        --begin;
    }
    return Widen(begin, end);
}

std::basic_string<WCHAR> KvCheck::FileStem(const char* path)
{
    const char* name = path;
    for (const char* p = path; *p; ++p)
        if (*p == '/' || *p == '\\')
            name = p + 1;
    const char* dot = std::strrchr(name, '.');
    return Widen(name, dot ? dot : name + std::strlen(name));
}

void KvCheck::AssertFailed(const char* condition, const char* file, int line, const char* prettyFunction)
{
    const std::basic_string<WCHAR> text = Widen(condition, condition + std::strlen(condition));
    KvDebugLog(TEXT("ASSERT(%ws) failed in \"%ws\" at line %d function %ws"), text.c_str(),
               FileStem(file).c_str(), line, QualifiedName(prettyFunction).c_str());
}

void KvCheck::VerifyFailed(const char* expression, const char* file, int line, const char* prettyFunction,
                           DWORD status)
{
    const std::basic_string<WCHAR> text = Widen(expression, expression + std::strlen(expression));
    KvDebugLog(TEXT("VERIFY(%ws) failed in \"%ws\" at line %d function %ws HRESULT:0x%08x"), text.c_str(),
               FileStem(file).c_str(), line, QualifiedName(prettyFunction).c_str(), status);
}
