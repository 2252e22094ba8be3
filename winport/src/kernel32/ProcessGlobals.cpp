// winport's process-wide objects, defined in this one file so their order is fixed.
//
// They are namespace-scope objects of winport: built when winport loads, before any library that
// depends on it runs its static constructors, and destroyed when winport unloads, after every such
// library has run its static destructors (and so its own teardown through the Windows API). Their
// destructor then stops the timer queues nobody deleted and joins every thread winport started, so
// no thread is left running code that is about to be unmapped.
#include "Clock.h"
#include "DebugOutput.h"
#include "HandleTable.h"
#include "ThreadReaper.h"
#include "TimerQueue.h"

#include "src/devices/SimulatedDevices.h"

namespace winport::kernel32
{

namespace
{

class ProcessGlobals
{
public:
    ~ProcessGlobals()
    {
        for (const auto& object : table.Objects())
            if (auto queue = std::dynamic_pointer_cast<TimerQueue>(object))
                queue->StopAndJoin();
        reaper.JoinAll(kGraceMs);
        devices::SimulatedDevices::DestroyInstance();
    }

    Clock clock;
    DebugOutput debugOutput;
    HandleTable table;
    ThreadReaper reaper;

private:
    static constexpr int kGraceMs = 5000;
};

ProcessGlobals g_globals;

} // namespace

HandleTable& HandleTable::Instance()
{
    return g_globals.table;
}

ThreadReaper& ThreadReaper::Instance()
{
    return g_globals.reaper;
}

Clock& Clock::Instance()
{
    return g_globals.clock;
}

DebugOutput& DebugOutput::Instance()
{
    return g_globals.debugOutput;
}

} // namespace winport::kernel32
