// The C runtime's wide-string functions for WCHAR (char16_t) strings, under their Windows names.
// They are C++ overloads, so they cannot clash with the C library's wchar_t functions.
//
// Bounds-checked functions (_s) report misuse by their return value (EINVAL, ERANGE) and empty the
// destination where Windows does; they do not end the program as Windows' default invalid-parameter
// handler would.
// The formatting functions follow Windows' wide printf: %s, %c are wide, %hs, %S, %hc, %C narrow,
// %ls/%ws/%lc/%wc wide; %l is 32 bits, %I64/%ll 64 bits, %I/%z/%t pointer-sized; %p prints 16 upper-case
// hex digits. A null string argument prints "(null)". Narrow strings are read as UTF-8.
#pragma once

#include "winport/basetypes.h"

#include <cerrno>
#include <cstdarg>
#include <cstddef>

typedef int errno_t;
typedef size_t rsize_t;
#ifndef _TRUNCATE
#define _TRUNCATE ((size_t)-1)
#endif
#ifndef STRUNCATE
#define STRUNCATE 80
#endif

namespace winport
{
template <typename T, size_t N> constexpr size_t CountOf(T (&)[N])
{
    return N;
}
} // namespace winport
#ifndef _countof
#define _countof(array) winport::CountOf(array)
#endif

size_t wcslen(const char16_t* str);
size_t wcsnlen(const char16_t* str, size_t maxCount);
int wcscmp(const char16_t* a, const char16_t* b);
int wcsncmp(const char16_t* a, const char16_t* b, size_t count);
int _wcsicmp(const char16_t* a, const char16_t* b);
int _wcsnicmp(const char16_t* a, const char16_t* b, size_t count);
const char16_t* wcschr(const char16_t* str, char16_t ch);
char16_t* wcschr(char16_t* str, char16_t ch);
const char16_t* wcsrchr(const char16_t* str, char16_t ch);
char16_t* wcsrchr(char16_t* str, char16_t ch);
const char16_t* wcsstr(const char16_t* str, const char16_t* sub);
char16_t* wcsstr(char16_t* str, const char16_t* sub);

errno_t wcscpy_s(char16_t* dest, rsize_t destSize, const char16_t* src);
errno_t wcsncpy_s(char16_t* dest, rsize_t destSize, const char16_t* src, rsize_t count);
errno_t wcscat_s(char16_t* dest, rsize_t destSize, const char16_t* src);
template <size_t N> errno_t wcscpy_s(char16_t (&dest)[N], const char16_t* src)
{
    return wcscpy_s(dest, N, src);
}
template <size_t N> errno_t wcscat_s(char16_t (&dest)[N], const char16_t* src)
{
    return wcscat_s(dest, N, src);
}

char16_t* _wcsupr(char16_t* str);
errno_t _wcsupr_s(char16_t* str, size_t size);
char16_t* _wcslwr(char16_t* str);
errno_t _wcslwr_s(char16_t* str, size_t size);

// Return the number of characters written without the terminator, or -1.
int vswprintf_s(char16_t* buffer, size_t bufferCount, const char16_t* format, va_list args);
int swprintf_s(char16_t* buffer, size_t bufferCount, const char16_t* format, ...);
int _vsnwprintf_s(char16_t* buffer, size_t bufferCount, size_t maxCount, const char16_t* format,
                  va_list args);
int _snwprintf_s(char16_t* buffer, size_t bufferCount, size_t maxCount, const char16_t* format, ...);
// The ISO form: at most count characters with the terminator; -1 when the text did not fit.
int vswprintf(char16_t* buffer, size_t count, const char16_t* format, va_list args);
int swprintf(char16_t* buffer, size_t count, const char16_t* format, ...);
// Returns the length the text would have, without the terminator (Windows' _vscwprintf).
int _vscwprintf(const char16_t* format, va_list args);
template <size_t N> int swprintf_s(char16_t (&buffer)[N], const char16_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vswprintf_s(buffer, N, format, args);
    va_end(args);
    return n;
}
