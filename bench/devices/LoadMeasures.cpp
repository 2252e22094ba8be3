// Latency and throughput: numbered reports at 1000 a second per device, to the library's devices and to plain
// readers of the same descriptor, plugged side by side.
#include "AllocationCount.h"
#include "DeviceMeasures.h"
#include "LibraryDevices.h"
#include "PlainReader.h"
#include "SequencedStream.h"

#include "machine/Machine.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
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

// One report to every device each millisecond, for seconds.
void SendEveryMs(const SendFn& send, SequencedStream& stream, int devices, double seconds)
{
    const int64_t period = 1000000000 / kRate;
    const int64_t start = NowNs();
    const int64_t end = start + static_cast<int64_t>(seconds * 1e9);
    uint8_t report[kGamePadReportLength];
    for (int64_t tick = start; tick < end; tick += period)
    {
        SleepUntilNs(tick);
        for (int d = 0; d < devices; ++d)
        {
            stream.NextReport(d, report);
            send(d, report, sizeof report);
        }
    }
}

// Both sides at 1000 reports a second per device, their sends half a period apart (the one side's reports
// are long delivered when the other's are sent), so that both meet the same disturbances from the rest of
// the machine; which side leads swaps every half second.
void SendInterleaved(const SendFn& first, SequencedStream& firstStream, const SendFn& second,
                     SequencedStream& secondStream, int devices, double seconds)
{
    const int64_t period = 1000000000 / kRate;
    const int64_t start = NowNs();
    const int64_t end = start + static_cast<int64_t>(seconds * 1e9);
    uint8_t report[kGamePadReportLength];
    for (int64_t tick = start; tick < end; tick += period)
    {
        const bool swap = ((tick - start) / 500000000) % 2 != 0;
        for (int side = 0; side < 2; ++side)
        {
            const bool firstSide = (side == 0) != swap;
            const SendFn& send = firstSide ? first : second;
            SequencedStream& stream = firstSide ? firstStream : secondStream;
            SleepUntilNs(tick + side * period / 2);
            for (int d = 0; d < devices; ++d)
            {
                stream.NextReport(d, report);
                send(d, report, sizeof report);
            }
        }
    }
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

// Sends for seconds and drains; adds what the window cost to side.
void LoadWindow(const SendFn& send, SequencedStream& stream, int devices, double seconds, SideLoad& side)
{
    const uint64_t arrived0 = stream.Arrivals();
    const uint64_t sent0 = stream.Sent();
    const uint64_t allocations0 = AllocationCount();
    const uint64_t libraryAllocations0 = WatchedAllocationCount();
    const int64_t cpu0 = ProcessCpuNs();
    SendEveryMs(send, stream, devices, seconds);
    Drain(stream);
    const int64_t cpu = ProcessCpuNs() - cpu0;
    const uint64_t allocations = AllocationCount() - allocations0;
    const uint64_t libraryAllocations = WatchedAllocationCount() - libraryAllocations0;
    const uint64_t arrived = stream.Arrivals() - arrived0;
    const double total = double(side.arrived + arrived);
    side.cpuNsPerReport = (side.cpuNsPerReport * double(side.arrived) + double(cpu)) / total;
    side.allocationsPerReport =
        (side.allocationsPerReport * double(side.arrived) + double(allocations)) / total;
    side.libraryAllocationsPerReport =
        (side.libraryAllocationsPerReport * double(side.arrived) + double(libraryAllocations)) / total;
    side.arrived += arrived;
    side.sent += stream.Sent() - sent0;
    side.outOfSequence = stream.OutOfSequence();
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

ThroughputFigures MeasureThroughput(double seconds)
{
    constexpr int kDevices = 16;
    const size_t capacity = size_t(kDevices) * kRate * size_t(seconds + 2);
    SequencedStream libStream(capacity), baseStream(capacity);
    ThroughputFigures figures;
    LibraryDevices library(GamePadDescriptor(), kDevices, &SequencedStream::LibraryArrival, &libStream);
    auto plain = PlainReaders(kDevices, baseStream);
    figures.polled = library.Polled();
    LoadWindow(ToPlain(plain), baseStream, kDevices, seconds / 2, figures.base);
    LoadWindow(ToLibrary(library), libStream, kDevices, seconds, figures.lib);
    LoadWindow(ToPlain(plain), baseStream, kDevices, seconds / 2, figures.base);
    figures.lib.dropped = library.Dropped();
    for (const auto& reader : plain)
        figures.base.dropped +=
            winport::machine::Machine::Instance().GetDeviceStats(reader->device).reportsDropped;
    return figures;
}
