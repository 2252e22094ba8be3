// Windows' wide printf formatting, for the CRT's char16_t functions (see winport/wcrt.h for the
// conversions it understands).
#pragma once

#include <cstdarg>
#include <string>

namespace winport::crt
{

class WideFormatter
{
public:
    // Formats into out. Returns false for a format Windows rejects (unknown conversion, %n).
    static bool Format(const char16_t* format, va_list args, std::u16string& out);

private:
    struct Spec;
    static bool FormatOne(const char16_t*& p, va_list& args, std::u16string& out);
    static void ParseSpec(const char16_t*& p, va_list& args, Spec& spec);
    static bool FormatInteger(const Spec& spec, va_list& args, std::u16string& out);
    static void FormatFloat(const Spec& spec, va_list& args, std::u16string& out);
    static void FormatString(const Spec& spec, bool wide, va_list& args, std::u16string& out);
    static void FormatChar(const Spec& spec, bool wide, va_list& args, std::u16string& out);
    static void Pad(const Spec& spec, const std::u16string& body, std::u16string& out);
};

} // namespace winport::crt
