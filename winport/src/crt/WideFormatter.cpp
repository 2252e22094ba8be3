#include "WideFormatter.h"

#include <cstdint>
#include <cstdio>

namespace winport::crt
{

struct WideFormatter::Spec
{
    std::string flags; // any of "-+ #0"
    int width = 0;
    int precision = -1; // -1: none
    enum class Size
    {
        Default,
        Char,
        Short,
        Long, // 32 bits on Windows
        LongLong,
        Pointer,
        LongDouble,
        Wide,
        Narrow
    } size = Size::Default;
    char16_t conversion = 0;

    bool LeftAlign() const { return flags.find('-') != std::string::npos; }
};

namespace
{

std::u16string Widen(const std::string& ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// Narrow text is read as UTF-8; a byte that does not start a valid sequence stands for itself.
std::u16string FromNarrow(const char* text, size_t maxUnits)
{
    std::u16string out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p && out.size() < maxUnits)
    {
        uint32_t c = *p;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        bool valid = true;
        for (int i = 1; i <= extra; ++i)
            valid = valid && (p[i] & 0xC0) == 0x80;
        if (extra > 0 && valid)
        {
            c &= 0x3F >> extra;
            for (int i = 1; i <= extra; ++i)
                c = (c << 6) | (p[i] & 0x3F);
            p += extra + 1;
        }
        else
        {
            ++p;
        }
        if (c >= 0x10000)
        {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        }
        else
        {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out.substr(0, maxUnits);
}

int ReadNumber(const char16_t*& p)
{
    int n = 0;
    while (*p >= u'0' && *p <= u'9')
        n = n * 10 + (*p++ - u'0');
    return n;
}

bool Consume(const char16_t*& p, const char16_t* token)
{
    const char16_t* q = p;
    for (; *token; ++token, ++q)
        if (*q != *token)
            return false;
    p = q;
    return true;
}

} // namespace

bool WideFormatter::Format(const char16_t* format, va_list args, std::u16string& out)
{
    va_list copy;
    va_copy(copy, args);
    bool ok = true;
    for (const char16_t* p = format; *p && ok;)
    {
        if (*p != u'%')
            out.push_back(*p++);
        else
            ok = FormatOne(++p, copy, out);
    }
    va_end(copy);
    return ok;
}

void WideFormatter::ParseSpec(const char16_t*& p, va_list& args, Spec& spec)
{
    while (*p == u'-' || *p == u'+' || *p == u' ' || *p == u'#' || *p == u'0')
        spec.flags.push_back(static_cast<char>(*p++));
    if (*p == u'*')
    {
        ++p;
        spec.width = va_arg(args, int);
        if (spec.width < 0)
        {
            spec.flags.push_back('-');
            spec.width = -spec.width;
        }
    }
    else
    {
        spec.width = ReadNumber(p);
    }
    if (*p == u'.')
    {
        ++p;
        if (*p == u'*')
        {
            ++p;
            spec.precision = va_arg(args, int);
        }
        else
        {
            spec.precision = ReadNumber(p);
        }
    }
    using Size = Spec::Size;
    if (Consume(p, u"I64") || Consume(p, u"ll"))
        spec.size = Size::LongLong;
    else if (Consume(p, u"I32"))
        spec.size = Size::Long;
    else if (Consume(p, u"hh"))
        spec.size = Size::Char;
    else if (*p == u'I' || *p == u'z' || *p == u'j' || *p == u't')
        spec.size = (++p, Size::Pointer);
    else if (*p == u'h')
        spec.size = (++p, Size::Narrow);
    else if (*p == u'l' || *p == u'w')
        spec.size = (++p, Size::Wide);
    else if (*p == u'L')
        spec.size = (++p, Size::LongDouble);
    spec.conversion = *p;
    if (*p)
        ++p;
}

bool WideFormatter::FormatOne(const char16_t*& p, va_list& args, std::u16string& out)
{
    if (*p == u'%')
    {
        out.push_back(*p++);
        return true;
    }
    Spec spec;
    ParseSpec(p, args, spec);
    using Size = Spec::Size;
    switch (spec.conversion)
    {
        case u'd':
        case u'i':
        case u'u':
        case u'o':
        case u'x':
        case u'X':
        case u'p':
            return FormatInteger(spec, args, out);
        case u'e':
        case u'E':
        case u'f':
        case u'F':
        case u'g':
        case u'G':
        case u'a':
        case u'A':
            FormatFloat(spec, args, out);
            return true;
        case u's':
            FormatString(spec, spec.size != Size::Narrow, args, out);
            return true;
        case u'S':
            FormatString(spec, spec.size == Size::Wide, args, out);
            return true;
        case u'c':
            FormatChar(spec, spec.size != Size::Narrow, args, out);
            return true;
        case u'C':
            FormatChar(spec, spec.size == Size::Wide, args, out);
            return true;
        default:
            return false; // %n and unknown conversions: Windows rejects the format
    }
}

bool WideFormatter::FormatInteger(const Spec& spec, va_list& args, std::u16string& out)
{
    using Size = Spec::Size;
    char conversion = static_cast<char>(spec.conversion);
    if (conversion == 'p')
    {
        // Windows prints a pointer as 16 upper-case hex digits, without prefix.
        char digits[32];
        std::snprintf(digits, sizeof digits, "%016llX",
                      static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(args, void*))));
        Pad(spec, Widen(digits), out);
        return true;
    }
    bool isSigned = conversion == 'd' || conversion == 'i';
    long long value = 0;
    switch (spec.size)
    {
        case Size::LongLong:
        case Size::Pointer:
            value = va_arg(args, long long);
            break;
        case Size::Char:
            value = isSigned ? static_cast<signed char>(va_arg(args, int))
                             : static_cast<unsigned char>(va_arg(args, int));
            break;
        case Size::Narrow:
            value = isSigned ? static_cast<short>(va_arg(args, int))
                             : static_cast<unsigned short>(va_arg(args, int));
            break;
        default: // int and Windows' 32-bit long
            value = isSigned ? va_arg(args, int) : static_cast<long long>(va_arg(args, unsigned int));
            break;
    }
    std::string narrow = "%" + spec.flags + std::to_string(spec.width);
    if (spec.precision >= 0)
        narrow += "." + std::to_string(spec.precision);
    narrow += "ll";
    narrow += conversion;
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, narrow.c_str(), value);
    out += Widen(buffer);
    return true;
}

void WideFormatter::FormatFloat(const Spec& spec, va_list& args, std::u16string& out)
{
    std::string narrow = "%" + spec.flags + std::to_string(spec.width);
    if (spec.precision >= 0)
        narrow += "." + std::to_string(spec.precision);
    narrow += static_cast<char>(spec.conversion);
    double value = spec.size == Spec::Size::LongDouble ? static_cast<double>(va_arg(args, long double))
                                                       : va_arg(args, double);
    int length = std::snprintf(nullptr, 0, narrow.c_str(), value);
    std::string buffer(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(&buffer[0], buffer.size(), narrow.c_str(), value);
    buffer.resize(static_cast<size_t>(length));
    out += Widen(buffer);
}

void WideFormatter::FormatString(const Spec& spec, bool wide, va_list& args, std::u16string& out)
{
    size_t maxUnits = spec.precision >= 0 ? static_cast<size_t>(spec.precision) : std::u16string::npos;
    std::u16string body;
    if (wide)
    {
        const char16_t* text = va_arg(args, const char16_t*);
        body = text ? std::u16string(text) : u"(null)";
    }
    else
    {
        const char* text = va_arg(args, const char*);
        body = FromNarrow(text ? text : "(null)", std::u16string::npos);
    }
    Pad(spec, body.substr(0, maxUnits), out);
}

void WideFormatter::FormatChar(const Spec& spec, bool wide, va_list& args, std::u16string& out)
{
    int value = va_arg(args, int);
    char16_t c =
        wide ? static_cast<char16_t>(value) : static_cast<char16_t>(static_cast<unsigned char>(value));
    Pad(spec, std::u16string(1, c), out);
}

void WideFormatter::Pad(const Spec& spec, const std::u16string& body, std::u16string& out)
{
    size_t fill = body.size() < static_cast<size_t>(spec.width) ? spec.width - body.size() : 0;
    if (spec.LeftAlign())
    {
        out += body;
        out.append(fill, u' ');
    }
    else
    {
        out.append(fill, spec.flags.find('0') != std::string::npos ? u'0' : u' ');
        out += body;
    }
}

} // namespace winport::crt
