// The C runtime's wide-string functions for char16_t, with the Windows CRT's semantics.
#include <windows.h>

namespace
{

// The CRT's case mapping in the "C" locale: ASCII letters only.
char16_t AsciiUpper(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}
char16_t AsciiLower(char16_t c)
{
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

errno_t ChangeCase(char16_t* str, size_t size, char16_t (*map)(char16_t))
{
    if (str == nullptr)
        return EINVAL;
    size_t length = wcsnlen(str, size);
    if (length == size)
    {
        if (size > 0)
            str[0] = 0;
        return EINVAL;
    }
    for (size_t i = 0; i < length; ++i)
        str[i] = map(str[i]);
    return 0;
}

} // namespace

size_t wcslen(const char16_t* str)
{
    const char16_t* p = str;
    while (*p)
        ++p;
    return static_cast<size_t>(p - str);
}

size_t wcsnlen(const char16_t* str, size_t maxCount)
{
    size_t n = 0;
    while (n < maxCount && str[n])
        ++n;
    return n;
}

int wcscmp(const char16_t* a, const char16_t* b)
{
    return wcsncmp(a, b, static_cast<size_t>(-1));
}

int wcsncmp(const char16_t* a, const char16_t* b, size_t count)
{
    for (size_t i = 0; i < count; ++i)
    {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
        if (a[i] == 0)
            return 0;
    }
    return 0;
}

int _wcsicmp(const char16_t* a, const char16_t* b)
{
    return _wcsnicmp(a, b, static_cast<size_t>(-1));
}

int _wcsnicmp(const char16_t* a, const char16_t* b, size_t count)
{
    // Windows folds to lower case before comparing, which orders '_' after letters.
    for (size_t i = 0; i < count; ++i)
    {
        char16_t ca = AsciiLower(a[i]);
        char16_t cb = AsciiLower(b[i]);
        if (ca != cb)
            return static_cast<int>(ca) - static_cast<int>(cb);
        if (ca == 0)
            return 0;
    }
    return 0;
}

const char16_t* wcschr(const char16_t* str, char16_t ch)
{
    for (;; ++str)
    {
        if (*str == ch)
            return str;
        if (*str == 0)
            return nullptr;
    }
}

char16_t* wcschr(char16_t* str, char16_t ch)
{
    return const_cast<char16_t*>(wcschr(static_cast<const char16_t*>(str), ch));
}

const char16_t* wcsrchr(const char16_t* str, char16_t ch)
{
    const char16_t* last = nullptr;
    for (;; ++str)
    {
        if (*str == ch)
            last = str;
        if (*str == 0)
            return last;
    }
}

char16_t* wcsrchr(char16_t* str, char16_t ch)
{
    return const_cast<char16_t*>(wcsrchr(static_cast<const char16_t*>(str), ch));
}

const char16_t* wcsstr(const char16_t* str, const char16_t* sub)
{
    size_t n = wcslen(sub);
    for (; *str; ++str)
        if (wcsncmp(str, sub, n) == 0)
            return str;
    return n == 0 ? str : nullptr;
}

char16_t* wcsstr(char16_t* str, const char16_t* sub)
{
    return const_cast<char16_t*>(wcsstr(static_cast<const char16_t*>(str), sub));
}

errno_t wcscpy_s(char16_t* dest, rsize_t destSize, const char16_t* src)
{
    return wcsncpy_s(dest, destSize, src, _TRUNCATE - 1);
}

errno_t wcsncpy_s(char16_t* dest, rsize_t destSize, const char16_t* src, rsize_t count)
{
    if (dest == nullptr || destSize == 0)
        return EINVAL;
    if (src == nullptr)
    {
        dest[0] = 0;
        return EINVAL;
    }
    if (count == _TRUNCATE)
    {
        size_t length = wcsnlen(src, destSize - 1);
        for (size_t i = 0; i < length; ++i)
            dest[i] = src[i];
        dest[length] = 0;
        return src[length] == 0 ? 0 : STRUNCATE;
    }
    size_t length = wcsnlen(src, count);
    if (length >= destSize)
    {
        dest[0] = 0;
        return ERANGE;
    }
    for (size_t i = 0; i < length; ++i)
        dest[i] = src[i];
    dest[length] = 0;
    return 0;
}

errno_t wcscat_s(char16_t* dest, rsize_t destSize, const char16_t* src)
{
    if (dest == nullptr || destSize == 0)
        return EINVAL;
    size_t used = wcsnlen(dest, destSize);
    if (src == nullptr || used == destSize)
    {
        dest[0] = 0;
        return EINVAL;
    }
    errno_t result = wcscpy_s(dest + used, destSize - used, src);
    if (result != 0)
        dest[0] = 0;
    return result;
}

char16_t* _wcsupr(char16_t* str)
{
    for (char16_t* p = str; *p; ++p)
        *p = AsciiUpper(*p);
    return str;
}

errno_t _wcsupr_s(char16_t* str, size_t size)
{
    return ChangeCase(str, size, AsciiUpper);
}

char16_t* _wcslwr(char16_t* str)
{
    for (char16_t* p = str; *p; ++p)
        *p = AsciiLower(*p);
    return str;
}

errno_t _wcslwr_s(char16_t* str, size_t size)
{
    return ChangeCase(str, size, AsciiLower);
}
