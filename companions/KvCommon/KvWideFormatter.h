// printf-style formatting of wide (UTF-16) text with the conventions of Windows' wide printf:
// %s, %ls and %ws take wide strings, %hs and %S narrow ones; %c is a wide character, %hc narrow.
#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

class KvWideFormatter
{
public:
    typedef std::basic_string<WCHAR> Text;

    static Text Format(LPCWSTR format, va_list args);

private:
    struct Spec;
    static LPCWSTR ParseSpec(LPCWSTR p, Spec& spec, va_list& args);
    static void AppendInteger(Text& out, const Spec& spec, va_list& args);
    static void AppendFloat(Text& out, const Spec& spec, va_list& args);
    static void AppendString(Text& out, const Spec& spec, va_list& args);
    static void AppendPadded(Text& out, const Spec& spec, const Text& body);
};
