// The machine model: the simulated PC under winport, and its control API.
//
// One process-wide Machine, created on first use (Instance), so libraries may use winport from
// their static constructors. A fresh machine is a typical PC; tests, benchmarks and the monitor's
// demo drive it through this interface, which is plain C++ so that a backend over the real system
// could stand in for the simulation. Every function is thread-safe unless it says otherwise.
#pragma once

#include "machine/Clock.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace winport::machine
{

// What is still open in the process: handles by kind ("event", "thread", "timer queue", ...) and
// threads winport started that have not ended. A dlopen/dlclose cycle of a well-behaved library
// leaves both as they were before the dlopen.
struct OpenResources
{
    std::map<std::string, int> handlesByKind;
    int runningThreads = 0;

    int HandleCount() const;
};

class Machine
{
public:
    static Machine& Instance();
    // Destroys the machine; only winport's own unload calls it.
    static void DestroyInstance();

    // ---- Clock -------------------------------------------------------------------------------
    Clock& GetClock() { return clock_; }

    // ---- Debug output ----------------------------------------------------------------------
    // Receives each OutputDebugStringW text (UTF-16) on the calling thread; null restores the
    // default, which writes the text as UTF-8 to stderr when the environment variable
    // WINPORT_DEBUG_OUTPUT is set and drops it otherwise (as Windows does with no debugger).
    using DebugOutputSink = std::function<void(const char16_t* text)>;
    void SetDebugOutputSink(DebugOutputSink sink);
    void WriteDebugOutput(const char16_t* text);

    // ---- What is still open ----------------------------------------------------------------
    OpenResources QueryOpenResources() const;

private:
    Machine() = default;

    Clock clock_;
    std::mutex sinkLock_;
    DebugOutputSink sink_;
};

} // namespace winport::machine
