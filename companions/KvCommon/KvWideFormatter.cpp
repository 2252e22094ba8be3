#include "KvWideFormatter.h"

#include <cstdio>

struct KvWideFormatter::Spec
{
    std::string flags;
    int width = -1;
    int precision = -1;
    enum Length
    {
        Default,
        Short,
        Char,
        Long,
        LongLong,
        Size
    } length = Default;
    bool wide = false;   // w or l before s / c
    bool narrow = false; // h before s / c
    char conversion = 0;
};

namespace
{
KvWideFormatter::Text Widen(const char* text, size_t length)
{
    KvWideFormatter::Text out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i)
        out.push_back(static_cast<WCHAR>(static_cast<unsigned char>(text[i])));
    return out;
}

size_t WideLength(LPCWSTR text, int limit)
{
    size_t n = 0;
    while ((limit < 0 || n < static_cast<size_t>(limit)) && text[n] != 0)
        ++n;
    return n;
}

size_t NarrowLength(const char* text, int limit)
{
    size_t n = 0;
    while ((limit < 0 || n < static_cast<size_t>(limit)) && text[n] != 0)
        ++n;
    return n;
}

int ReadNumber(LPCWSTR& p)
{
    int n = 0;
    while (*p >= '0' && *p <= '9')
        n = n * 10 + (*p++ - '0');
    return n;
}
} // namespace

LPCWSTR KvWideFormatter::ParseSpec(LPCWSTR p, Spec& spec, va_list& args)
{
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0')
        spec.flags.push_back(static_cast<char>(*p++));
    if (*p == '*')
    {
        spec.width = va_arg(args, int);
        ++p;
        if (spec.width < 0)
        {
            spec.flags.push_back('-');
            spec.width = -spec.width;
        }
    }
    else if (*p >= '0' && *p <= '9')
    {
        spec.width = ReadNumber(p);
    }
    if (*p == '.')
    {
        ++p;
        if (*p == '*')
        {
            spec.precision = va_arg(args, int);
            ++p;
        }
        else
        {
            spec.precision = ReadNumber(p);
        }
    }
    for (;;)
    {
        if (*p == 'h')
        {
            spec.narrow = true;
            spec.length = spec.length == Spec::Short ? Spec::Char : Spec::Short;
        }
        else if (*p == 'l')
        {
            spec.wide = true;
            spec.length = spec.length == Spec::Long ? Spec::LongLong : Spec::Long;
        }
        else if (*p == 'w')
            spec.wide = true;
        else if (*p == 'z' || *p == 'j' || *p == 't')
            spec.length = Spec::Size;
        else if (*p == 'I' && p[1] == '6' && p[2] == '4')
        {
            spec.length = Spec::LongLong;
            p += 2;
        }
        else if (*p == 'I' && p[1] == '3' && p[2] == '2')
        {
            spec.length = Spec::Default;
            p += 2;
        }
        else if (*p == 'I')
            spec.length = Spec::Size;
        else
            break;
        ++p;
    }
    spec.conversion = static_cast<char>(*p);
    return *p ? p + 1 : p;
}

void KvWideFormatter::AppendInteger(Text& out, const Spec& spec, va_list& args)
{
    const bool isSigned = spec.conversion == 'd' || spec.conversion == 'i';
    unsigned long long bits = 0;
    long long value = 0;
    switch (spec.length)
    {
        case Spec::LongLong:
        case Spec::Size:
            value = va_arg(args, long long);
            bits = static_cast<unsigned long long>(value);
            break;
        default:
        {
            // int and Windows' 32-bit long are both promoted to int.
            const int v = va_arg(args, int);
            value = v;
            bits = static_cast<unsigned int>(v);
            if (spec.length == Spec::Short)
            {
                value = static_cast<short>(v);
                bits = static_cast<unsigned short>(v);
            }
            else if (spec.length == Spec::Char)
            {
                value = static_cast<signed char>(v);
                bits = static_cast<unsigned char>(v);
            }
        }
    }
    std::string format = "%" + spec.flags;
    if (spec.width >= 0)
        format += std::to_string(spec.width);
    if (spec.precision >= 0)
        format += "." + std::to_string(spec.precision);
    format += "ll";
    format.push_back(spec.conversion);
    char buffer[96];
    const int n = isSigned ? std::snprintf(buffer, sizeof buffer, format.c_str(), value)
                           : std::snprintf(buffer, sizeof buffer, format.c_str(), bits);
    if (n > 0)
        out += Widen(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

void KvWideFormatter::AppendFloat(Text& out, const Spec& spec, va_list& args)
{
    std::string format = "%" + spec.flags;
    if (spec.width >= 0)
        format += std::to_string(spec.width);
    if (spec.precision >= 0)
        format += "." + std::to_string(spec.precision);
    format.push_back(spec.conversion);
    char buffer[128];
    const int n = std::snprintf(buffer, sizeof buffer, format.c_str(), va_arg(args, double));
    if (n > 0)
        out += Widen(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

void KvWideFormatter::AppendPadded(Text& out, const Spec& spec, const Text& body)
{
    const size_t width = spec.width > 0 ? static_cast<size_t>(spec.width) : 0;
    const bool left = spec.flags.find('-') != std::string::npos;
    if (!left && body.size() < width)
        out.append(width - body.size(), ' ');
    out += body;
    if (left && body.size() < width)
        out.append(width - body.size(), ' ');
}

void KvWideFormatter::AppendString(Text& out, const Spec& spec, va_list& args)
{
    // Windows' wide printf: %s is wide unless h is given; %S is narrow unless l or w is given.
    const bool narrow = spec.narrow || (spec.conversion == 'S' && !spec.wide);
    Text body;
    if (narrow)
    {
        const char* text = va_arg(args, const char*);
        body = text ? Widen(text, NarrowLength(text, spec.precision)) : Widen("(null)", 6);
    }
    else
    {
        LPCWSTR text = va_arg(args, LPCWSTR);
        body = text ? Text(text, WideLength(text, spec.precision)) : Widen("(null)", 6);
    }
    AppendPadded(out, spec, body);
}

KvWideFormatter::Text KvWideFormatter::Format(LPCWSTR format, va_list argsIn)
{
    va_list args;
    va_copy(args, argsIn);
    Text out;
    for (LPCWSTR p = format; *p;)
    {
        if (*p != '%')
        {
            out.push_back(*p++);
            continue;
        }
        Spec spec;
        p = ParseSpec(p + 1, spec, args);
        switch (spec.conversion)
        {
            case 'd':
            case 'i':
            case 'u':
            case 'x':
            case 'X':
            case 'o':
                AppendInteger(out, spec, args);
                break;
            case 'f':
            case 'F':
            case 'e':
            case 'E':
            case 'g':
            case 'G':
                AppendFloat(out, spec, args);
                break;
            case 's':
            case 'S':
                AppendString(out, spec, args);
                break;
            case 'c':
            case 'C':
            {
                const int c = va_arg(args, int);
                const bool narrow = spec.narrow || (spec.conversion == 'C' && !spec.wide);
                AppendPadded(out, spec,
                             Text(1, narrow ? static_cast<WCHAR>(static_cast<unsigned char>(c))
                                            : static_cast<WCHAR>(c)));
                break;
            }
            case 'p':
            {
                char buffer[32];
                const int n = std::snprintf(
                    buffer, sizeof buffer, "%016llX",
                    static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(va_arg(args, void*))));
                AppendPadded(out, spec, Widen(buffer, n > 0 ? n : 0));
                break;
            }
            case '%':
                out.push_back('%');
                break;
            default:
                // An unknown conversion is copied as it stands, so a bad format never reads arguments.
                out.push_back('%');
                if (spec.conversion)
                    out.push_back(static_cast<WCHAR>(spec.conversion));
                break;
        }
    }
    va_end(args);
    return out;
}
