// Helpers shared by the library's tests: log capture, wide strings, and waiting on conditions (WaitUntil.h).
#pragma once

#include <windows.h>

#include "KvCommon.h"
#include "WaitUntil.h"

#include <mutex>
#include <string>
#include <vector>

typedef std::basic_string<WCHAR> WString;

// Collects every log line while it exists.
class LogCapture
{
public:
    LogCapture() { KvDebugLogSetSink(&LogCapture::Sink, this); }
    ~LogCapture() { KvDebugLogSetSink(nullptr, nullptr); }

    std::vector<WString> Lines()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_lines;
    }
    size_t Count(const WString& line)
    {
        size_t n = 0;
        for (const WString& l : Lines())
            n += l == line;
        return n;
    }
    size_t CountContaining(const WString& part)
    {
        size_t n = 0;
        for (const WString& l : Lines())
            n += l.find(part) != WString::npos;
        return n;
    }

private:
    static void Sink(LPCWSTR line, void* context)
    {
        LogCapture* self = static_cast<LogCapture*>(context);
        std::lock_guard<std::mutex> guard(self->m_mutex);
        self->m_lines.emplace_back(line);
    }
    std::mutex m_mutex;
    std::vector<WString> m_lines;
};

inline WString W(const char* ascii)
{
    WString out;
    while (*ascii)
        out.push_back(static_cast<WCHAR>(*ascii++));
    return out;
}

inline std::string Narrow(const WString& text)
{
    std::string out;
    for (WCHAR c : text)
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}
