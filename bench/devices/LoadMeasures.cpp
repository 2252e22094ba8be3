// Latency and throughput: numbered reports at 1000 a second per device, to the library's devices and to plain
// readers of the same descriptor, plugged side by side.
#include "AllocationCount.h"
#include "DeviceMeasures.h"
#include "LibraryDevices.h"
#include "PlainReader.h"
#include "SequencedStream.h"
#include "ThreadCpu.h"

#include "machine/Machine.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <thread>

namespace
{
using SendFn = std::function<void(int device, const uint8_t* report, size_t size)>;

constexpr int kRate = 1000;

// Plain readers of the game pad, reporting to stream. Plugged after the library's devices, so that the
// library (which enumerates on updates only) never opens them.
std::vector<std::unique_ptr<PlainReader>> PlainReaders(int devices, SequencedStream& stream)
{
    std::vector<std::unique_ptr<PlainReader>> readers;
    for (int i = 0; i < devices; ++i)
        readers.push_back(std::make_unique<PlainReader>(GamePadDescriptor(), kGamePadReportLength,
                                                        &SequencedStream::PlainArrival, &stream));
    return readers;
}

// What the sending thread spent on one side's reports.
struct SenderCost
{
    int64_t cpuNs = 0;
    uint64_t allocations = 0;
};

// Both sides at 1000 reports a second per device, their sends half a period apart (the one side's reports
// are long delivered when the other's are sent), so that both meet the same disturbances from the rest of
// the machine; which side leads swaps every half second. costs, when given, receive the sender's own share.
// A period the sender itself was not scheduled in is skipped, not made up with a burst (which would overflow
// the devices' queues by itself); returns the periods skipped.
int64_t SendInterleaved(const SendFn& first, SequencedStream& firstStream, const SendFn& second,
                        SequencedStream& secondStream, int devices, double seconds,
                        SenderCost* costs = nullptr)
{
    int64_t skipped = 0;
    const int64_t period = 1000000000 / kRate;
    const int64_t start = NowNs();
    const int64_t end = start + static_cast<int64_t>(seconds * 1e9);
    uint8_t report[kGamePadReportLength];
    for (int64_t tick = start; tick < end; tick += period)
    {
        const int64_t late = (NowNs() - tick) / period;
        if (late > 0)
        {
            skipped += late;
            tick += late * period;
        }
        const bool swap = ((tick - start) / 500000000) % 2 != 0;
        for (int side = 0; side < 2; ++side)
        {
            const bool firstSide = (side == 0) != swap;
            const SendFn& send = firstSide ? first : second;
            SequencedStream& stream = firstSide ? firstStream : secondStream;
            SleepUntilNs(tick + side * period / 2);
            const int64_t cpu0 = costs ? OwnThreadCpuNs() : 0;
            const uint64_t allocations0 = ThreadAllocationCount();
            for (int d = 0; d < devices; ++d)
            {
                stream.NextReport(d, report);
                send(d, report, sizeof report);
            }
            if (costs)
            {
                costs[firstSide ? 0 : 1].cpuNs += OwnThreadCpuNs() - cpu0;
                costs[firstSide ? 0 : 1].allocations += ThreadAllocationCount() - allocations0;
            }
        }
    }
    return skipped;
}

// Waits (at most 1 s) for the reports sent to arrive.
void Drain(const SequencedStream& stream)
{
    for (int i = 0; i < 1000 && stream.Arrivals() < stream.Sent(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

double PercentileUs(std::vector<int64_t> samples, double q)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const size_t at = std::min(samples.size() - 1, static_cast<size_t>(q * double(samples.size())));
    return double(samples[at]) / 1000.0;
}

SendFn ToLibrary(LibraryDevices& devices)
{
    return [&devices](int d, const uint8_t* report, size_t size) { devices.Send(d, report, size); };
}

SendFn ToPlain(std::vector<std::unique_ptr<PlainReader>>& readers)
{
    return [&readers](int d, const uint8_t* report, size_t size) { readers[size_t(d)]->Send(report, size); };
}

int64_t CpuOf(const std::set<pid_t>& threads)
{
    int64_t sum = 0;
    for (pid_t tid : threads)
        sum += std::max<int64_t>(ThreadCpuNs(tid), 0);
    return sum;
}

// One side's readings at the start of the measured window.
struct SideStart
{
    uint64_t arrived, sent, receiverAllocations, libraryAllocations;
    int64_t receiverCpu;
};

SideStart Start(const SequencedStream& stream, const std::set<pid_t>& receivers)
{
    return {stream.Arrivals(), stream.Sent(), stream.ReceiverAllocations(), WatchedAllocationCount(),
            CpuOf(receivers)};
}

// The side's figures over the window: its receiving threads' and its sender share's CPU and allocations.
SideLoad Finish(const SequencedStream& stream, const std::set<pid_t>& receivers, const SideStart& start,
                const SenderCost& sender)
{
    SideLoad side;
    side.arrived = stream.Arrivals() - start.arrived;
    side.sent = stream.Sent() - start.sent;
    side.outOfSequence = stream.OutOfSequence();
    const double reports = double(std::max<uint64_t>(side.arrived, 1));
    side.cpuNsPerReport = double(CpuOf(receivers) - start.receiverCpu + sender.cpuNs) / reports;
    side.allocationsPerReport =
        double(stream.ReceiverAllocations() - start.receiverAllocations + sender.allocations) / reports;
    side.libraryAllocationsPerReport = double(WatchedAllocationCount() - start.libraryAllocations) / reports;
    const std::vector<int64_t> latencies = stream.Latencies();
    side.longestMs =
        latencies.empty() ? 0 : double(*std::max_element(latencies.begin(), latencies.end())) / 1e6;
    return side;
}
} // namespace

LatencyFigures MeasureLatency(int devices, double seconds)
{
    const size_t capacity = size_t(devices) * kRate * size_t(seconds + 2);
    SequencedStream libStream(capacity), baseStream(capacity);
    LatencyFigures figures;
    figures.devices = devices;
    {
        LibraryDevices library(GamePadDescriptor(), devices, &SequencedStream::LibraryArrival, &libStream);
        auto plain = PlainReaders(devices, baseStream);
        figures.polled = library.Polled();
        figures.skippedPeriods =
            SendInterleaved(ToLibrary(library), libStream, ToPlain(plain), baseStream, devices, seconds);
        Drain(baseStream);
        Drain(libStream);
        const auto base = baseStream.Latencies();
        const auto lib = libStream.Latencies();
        figures.baseSamples = base.size();
        figures.libSamples = lib.size();
        figures.baseMedianUs = PercentileUs(base, 0.5);
        figures.baseP99Us = PercentileUs(base, 0.99);
        figures.libMedianUs = PercentileUs(lib, 0.5);
        figures.libP99Us = PercentileUs(lib, 0.99);
    }
    return figures;
}

// The library's side counts its read threads and the threads its start left (message thread, service);
// allocations made from the library's code anywhere are counted on the library's side only, as the plain
// side runs none of it.
ThroughputFigures MeasureThroughput(double seconds, const std::set<pid_t>& startedThreads)
{
    constexpr int kDevices = 16;
    const size_t capacity = size_t(kDevices) * kRate * size_t(seconds + 2);
    SequencedStream libStream(capacity), baseStream(capacity);
    ThroughputFigures figures;
    LibraryDevices library(GamePadDescriptor(), kDevices, &SequencedStream::LibraryArrival, &libStream);
    const std::set<pid_t> before = ProcessThreads();
    auto plain = PlainReaders(kDevices, baseStream);
    const std::set<pid_t> plainThreads = NewThreads(before, ProcessThreads());
    std::set<pid_t> libThreads = library.ReaderThreads();
    libThreads.insert(startedThreads.begin(), startedThreads.end());
    figures.polled = library.Polled();

    // Every reader has delivered before the window opens: their counts start from their loops.
    SendInterleaved(ToLibrary(library), libStream, ToPlain(plain), baseStream, kDevices, 0.2);
    Drain(libStream);
    Drain(baseStream);
    const SideStart libStart = Start(libStream, libThreads);
    const SideStart baseStart = Start(baseStream, plainThreads);
    SenderCost costs[2];
    figures.skippedPeriods =
        SendInterleaved(ToLibrary(library), libStream, ToPlain(plain), baseStream, kDevices, seconds, costs);
    Drain(libStream);
    Drain(baseStream);
    figures.lib = Finish(libStream, libThreads, libStart, costs[0]);
    figures.base = Finish(baseStream, plainThreads, baseStart, costs[1]);
    figures.base.libraryAllocationsPerReport = 0;
    figures.lib.dropped = library.Dropped();
    for (const auto& reader : plain)
        figures.base.dropped +=
            winport::machine::Machine::Instance().GetDeviceStats(reader->device).reportsDropped;
    return figures;
}
