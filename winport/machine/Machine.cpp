#include "Machine.h"

#include "src/kernel32/HandleTable.h"
#include "src/kernel32/ThreadReaper.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace winport::machine
{

namespace
{

Machine* instance = nullptr;
std::once_flag created;

std::string ToUtf8(const char16_t* text)
{
    std::string out;
    for (const char16_t* p = text; *p; ++p)
    {
        uint32_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (*++p - 0xDC00);
        if (c < 0x80)
            out.push_back(static_cast<char>(c));
        else if (c < 0x800)
            out.append({static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))});
        else if (c < 0x10000)
            out.append({static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                        static_cast<char>(0x80 | (c & 0x3F))});
        else
            out.append({static_cast<char>(0xF0 | (c >> 18)), static_cast<char>(0x80 | ((c >> 12) & 0x3F)),
                        static_cast<char>(0x80 | ((c >> 6) & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))});
    }
    return out;
}

} // namespace

int OpenResources::HandleCount() const
{
    int total = 0;
    for (const auto& kind : handlesByKind)
        total += kind.second;
    return total;
}

Machine& Machine::Instance()
{
    // Heap-allocated so that no static destructor of a library using winport can outlive it; winport's
    // own unload destroys it last.
    std::call_once(created, [] { instance = new Machine; });
    return *instance;
}

void Machine::DestroyInstance()
{
    delete instance;
    instance = nullptr;
}

void Machine::SetDebugOutputSink(DebugOutputSink sink)
{
    std::lock_guard<std::mutex> guard(sinkLock_);
    sink_ = std::move(sink);
}

void Machine::WriteDebugOutput(const char16_t* text)
{
    DebugOutputSink sink;
    {
        std::lock_guard<std::mutex> guard(sinkLock_);
        sink = sink_;
    }
    if (sink)
        sink(text);
    else if (std::getenv("WINPORT_DEBUG_OUTPUT") != nullptr)
        std::fprintf(stderr, "%s", ToUtf8(text).c_str());
}

OpenResources Machine::QueryOpenResources() const
{
    OpenResources open;
    open.handlesByKind = kernel32::HandleTable::Instance().CountByKind();
    open.runningThreads = kernel32::ThreadReaper::Instance().RunningCount();
    return open;
}

} // namespace winport::machine
