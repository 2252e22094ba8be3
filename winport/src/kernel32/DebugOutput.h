// Where OutputDebugStringW/A's text goes: a sink the control API sets (Machine::SetDebugOutputSink), or
// by default stderr as UTF-8 when the environment variable WINPORT_DEBUG_OUTPUT is set, and nowhere
// otherwise (as on Windows with no debugger).
#pragma once

#include <functional>
#include <mutex>

namespace winport::kernel32
{

class DebugOutput
{
public:
    using Sink = std::function<void(const char16_t* text)>;

    // One of winport's process-wide objects (ProcessGlobals.cpp).
    static DebugOutput& Instance();

    void SetSink(Sink sink);
    void Write(const char16_t* text);

private:
    std::mutex m_lock;
    Sink m_sink;
};

} // namespace winport::kernel32
