#include "KvCommon.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>

namespace
{
struct LogState
{
    std::mutex mutex;
    KvLogSink sink = nullptr;
    void* context = nullptr;
};

LogState& State()
{
    static LogState state;
    return state;
}

#if !defined(_WIN32)
// UTF-16 to UTF-8 for the terminal, through winport's kernel32 (unpaired surrogates become U+FFFD).
// On Windows the line goes to OutputDebugStringW as it is.
std::string ToUtf8(LPCWSTR text)
{
    std::string out(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), static_cast<int>(out.size()), nullptr, nullptr);
    out.resize(out.empty() ? 0 : out.size() - 1); // the terminator
    return out;
}
#endif

void Emit(LPCWSTR line)
{
    LogState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    if (state.sink)
    {
        state.sink(line, state.context);
        return;
    }
#if defined(_WIN32)
    OutputDebugStringW(line);
#else
    static const bool toStderr = std::getenv("KVHID_LOG") != nullptr;
    if (toStderr)
    {
        // Check lines carry no newline of their own; a terminal wants one per line.
        std::string text = ToUtf8(line);
        if (text.empty() || text.back() != '\n')
            text.push_back('\n');
        std::fputs(text.c_str(), stderr);
    }
#endif
}
} // namespace

// The C runtime's wide printf formats the lines: msvcrt's on Windows, winport's (which agrees with it) on
// other systems, so both builds log alike with one formatting engine. A format the runtime rejects is
// logged as it stands rather than lost.
void KvDebugLog(LPCWSTR format, ...)
{
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = _vscwprintf(format, measure);
    va_end(measure);
    std::basic_string<WCHAR> line(length > 0 ? length : 0, 0);
    if (length < 0 || vswprintf_s(&line[0], line.size() + 1, format, args) != length)
        line = format;
    va_end(args);
    Emit(line.c_str());
}

void KvDebugLogString(LPCWSTR text)
{
    Emit(text);
}

void KvDebugLogSetSink(KvLogSink sink, void* context)
{
    LogState& state = State();
    std::lock_guard<std::mutex> guard(state.mutex);
    state.sink = sink;
    state.context = context;
}
