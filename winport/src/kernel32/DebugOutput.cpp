#include "src/kernel32/DebugOutput.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace winport::kernel32
{

void DebugOutput::SetSink(Sink sink)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_sink = std::move(sink);
}

void DebugOutput::Write(const char16_t* text)
{
    Sink sink;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        sink = m_sink;
    }
    if (sink)
    {
        sink(text);
        return;
    }
    if (std::getenv("WINPORT_DEBUG_OUTPUT") == nullptr)
        return;
    std::string utf8(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr);
    std::fputs(utf8.c_str(), stderr);
}

} // namespace winport::kernel32
