#include "LibraryDevices.h"

#include "ThreadCpu.h"
#include "machine/Machine.h"

#include <algorithm>
#include <chrono>
#include <thread>

using winport::machine::Machine;

namespace
{
std::vector<uint32_t> LibraryPositions()
{
    uint32_t* list = nullptr;
    uint32_t count = 0;
    if (KvHRGetDevicesList(&list, &count) != 0)
        return {};
    std::vector<uint32_t> positions(list, list + count);
    KvHRFree(list);
    return positions;
}

// Waits (at most 5 s) until the process runs threads beyond before; returns them.
std::set<pid_t> AwaitNewThreads(const std::set<pid_t>& before, size_t expected)
{
    std::set<pid_t> added;
    for (int i = 0; i < 5000 && added.size() < expected; ++i)
    {
        added = NewThreads(before, ProcessThreads());
        if (added.size() < expected)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return added;
}
} // namespace

// The library enumerates on updates only, so it opens exactly the devices plugged since the last one.
LibraryDevices::LibraryDevices(const std::vector<uint8_t>& descriptor, int count,
                               ReadDeviceValuesCallback callback, void* context)
{
    const std::vector<uint32_t> before = LibraryPositions();
    for (int i = 0; i < count; ++i)
    {
        winport::machine::HidDeviceDescription description;
        description.reportDescriptor = descriptor;
        machineIds_.push_back(Machine::Instance().PlugDevice(description));
    }
    KvHRUpdateHidDevicesList();
    for (uint32_t pos : LibraryPositions())
        if (std::find(before.begin(), before.end(), pos) == before.end())
            positions_.push_back(pos);
    polled_ = positions_.size() == machineIds_.size();
    for (uint32_t pos : positions_)
    {
        const std::set<pid_t> threads = ProcessThreads();
        polled_ = polled_ && KvHRSetReadDeviceValuesCallback(pos, callback, context) == 0 &&
                  KvHRSetPolling(pos, 1) == 0;
        for (pid_t tid : AwaitNewThreads(threads, 1))
            readers_.insert(tid);
    }
    polled_ = polled_ && readers_.size() == positions_.size();
}

LibraryDevices::~LibraryDevices()
{
    for (uint32_t pos : positions_)
        KvHRSetPolling(pos, 0);
    for (uint32_t id : machineIds_)
        Machine::Instance().UnplugDevice(id, winport::machine::Removal::Surprise);
    KvHRUpdateHidDevicesList();
}

void LibraryDevices::Send(int device, const uint8_t* report, size_t size)
{
    Machine::Instance().SendInputReport(machineIds_[device], report, size);
}

uint64_t LibraryDevices::Dropped() const
{
    uint64_t dropped = 0;
    for (uint32_t id : machineIds_)
        dropped += Machine::Instance().GetDeviceStats(id).reportsDropped;
    return dropped;
}
