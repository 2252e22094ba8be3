#include "machine/Machine.h"

#include "src/kernel32/DebugOutput.h"
#include "src/kernel32/HandleTable.h"
#include "src/kernel32/ThreadReaper.h"

namespace winport::machine
{

int OpenResources::HandleCount() const
{
    int total = 0;
    for (const auto& kind : handlesByKind)
        total += kind.second;
    return total;
}

Machine& Machine::Instance()
{
    // Holds no state of its own (that lives on winport's side), so a plain static will do.
    static Machine machine;
    return machine;
}

void Machine::SetDebugOutputSink(DebugOutputSink sink)
{
    kernel32::DebugOutput::Instance().SetSink(std::move(sink));
}

OpenResources Machine::QueryOpenResources() const
{
    OpenResources open;
    open.handlesByKind = kernel32::HandleTable::Instance().CountByKind();
    open.runningThreads = kernel32::ThreadReaper::Instance().RunningCount();
    return open;
}

} // namespace winport::machine
