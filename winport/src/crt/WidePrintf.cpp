// The CRT's wide formatting functions for char16_t buffers.
#include "WideFormatter.h"

#include <windows.h>

#include <algorithm>

using winport::crt::WideFormatter;

namespace
{

void Store(char16_t* buffer, const std::u16string& text, size_t units)
{
    std::copy_n(text.data(), units, buffer);
    buffer[units] = 0;
}

} // namespace

int vswprintf_s(char16_t* buffer, size_t bufferCount, const char16_t* format, va_list args)
{
    if (buffer == nullptr || bufferCount == 0 || format == nullptr)
        return -1;
    std::u16string text;
    if (!WideFormatter::Format(format, args, text) || text.size() >= bufferCount)
    {
        buffer[0] = 0;
        return -1;
    }
    Store(buffer, text, text.size());
    return static_cast<int>(text.size());
}

int swprintf_s(char16_t* buffer, size_t bufferCount, const char16_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vswprintf_s(buffer, bufferCount, format, args);
    va_end(args);
    return n;
}

int _vsnwprintf_s(char16_t* buffer, size_t bufferCount, size_t maxCount, const char16_t* format, va_list args)
{
    if (buffer == nullptr || bufferCount == 0 || format == nullptr)
        return -1;
    std::u16string text;
    if (!WideFormatter::Format(format, args, text))
    {
        buffer[0] = 0;
        return -1;
    }
    size_t limit = maxCount == _TRUNCATE ? bufferCount - 1 : maxCount;
    if (text.size() <= limit && text.size() < bufferCount)
    {
        Store(buffer, text, text.size());
        return static_cast<int>(text.size());
    }
    if (maxCount != _TRUNCATE && maxCount >= bufferCount)
    {
        buffer[0] = 0; // the text overflows the buffer itself: an error, not a truncation
        return -1;
    }
    Store(buffer, text, limit);
    return -1;
}

int _snwprintf_s(char16_t* buffer, size_t bufferCount, size_t maxCount, const char16_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = _vsnwprintf_s(buffer, bufferCount, maxCount, format, args);
    va_end(args);
    return n;
}

int vswprintf(char16_t* buffer, size_t count, const char16_t* format, va_list args)
{
    if (buffer == nullptr || count == 0 || format == nullptr)
        return -1;
    std::u16string text;
    if (!WideFormatter::Format(format, args, text))
    {
        buffer[0] = 0;
        return -1;
    }
    if (text.size() >= count)
    {
        Store(buffer, text, count - 1);
        return -1;
    }
    Store(buffer, text, text.size());
    return static_cast<int>(text.size());
}

int swprintf(char16_t* buffer, size_t count, const char16_t* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vswprintf(buffer, count, format, args);
    va_end(args);
    return n;
}

int _vscwprintf(const char16_t* format, va_list args)
{
    std::u16string text;
    if (format == nullptr || !WideFormatter::Format(format, args, text))
        return -1;
    return static_cast<int>(text.size());
}
