// The library's physical devices against the machine's own delivery, in one run (see bench/README.md):
//  - latency from SendInputReport to the return of the values callback, 1, 8 and 16 devices at 1000
//    reports a second each, against the same reports to plain reader threads;
//  - throughput, CPU and allocations per report: 16 devices x 1000 reports a second;
//  - cost per input: descriptors of 16, 64 and 256 buttons and of 4, 16 and 32 16-bit axes;
//  - idle: polled devices sending nothing, and the threads the library's start left running.
// Usage: bench_devices [latency seconds, default 3] [throughput seconds, default 10] [sections]
// sections: any of the letters l (latency), t (throughput), c (cost per input), i (idle); default all.
#include "AllocationCount.h"
#include "DeviceMeasures.h"
#include "ThreadCpu.h"

#include "KvCommon.h"
#include "KvHidRaw.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>

namespace
{
std::set<pid_t> g_startedThreads;

std::string Load()
{
    std::ifstream loadavg("/proc/loadavg");
    std::string one, five;
    loadavg >> one >> five;
    return "load " + one + " (5 min " + five + ")";
}

int64_t StartedThreadsCpuNs()
{
    int64_t sum = 0;
    for (pid_t tid : g_startedThreads)
        sum += std::max<int64_t>(ThreadCpuNs(tid), 0);
    return sum;
}

// count one-bit buttons 1..count of the Button page; report: ID 0 then count/8 bytes.
std::vector<uint8_t> ButtonsDescriptor(int count)
{
    const uint8_t lo = uint8_t(count & 0xFF), hi = uint8_t(count >> 8);
    return {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x2A, lo,  hi,
            0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x96, lo,   hi,   0x81, 0x02, 0xC0};
}

// count 16-bit axes, Generic Desktop usages from X (0x30) on, logical -32768..32767, in main items of at most
// perItem usages each (one usage range per item).
std::vector<uint8_t> AxesDescriptor(int count, int perItem = 256)
{
    std::vector<uint8_t> d = {0x05, 0x01, 0x09, 0x04, 0xA1, 0x01, 0x16,
                              0x00, 0x80, 0x26, 0xFF, 0x7F, 0x75, 0x10};
    for (int first = 0; first < count; first += perItem)
    {
        const int n = std::min(perItem, count - first);
        const std::vector<uint8_t> item = {
            0x19, uint8_t(0x30 + first), 0x29, uint8_t(0x30 + first + n - 1), 0x95, uint8_t(n), 0x81, 0x02};
        d.insert(d.end(), item.begin(), item.end());
    }
    d.push_back(0xC0);
    return d;
}

bool ReportLatency(double seconds)
{
    bool met = true;
    std::printf(
        "\nlatency: SendInputReport to the return of the values callback (library) or of the reader's "
        "wait (baseline), 1000 reports/s per device on each side, sides half a period apart, %.1f s\n",
        seconds);
    std::printf("  devices  base median  base p99   lib median  lib p99    median x  p99 x   samples b/l  "
                "skipped ms  %s\n",
                Load().c_str());
    for (int devices : {1, 8, 16})
    {
        const LatencyFigures f = MeasureLatency(devices, seconds);
        const double medianRatio = f.libMedianUs / f.baseMedianUs, p99Ratio = f.libP99Us / f.baseP99Us;
        const bool ok = f.polled && medianRatio <= 2.0 && p99Ratio <= 3.0;
        met = met && ok;
        std::printf("  %7d  %8.2f us  %8.2f us  %8.2f us  %8.2f us  %6.2f  %6.2f   %llu/%llu  %lld  %s  %s\n",
                    devices, f.baseMedianUs, f.baseP99Us, f.libMedianUs, f.libP99Us, medianRatio, p99Ratio,
                    (unsigned long long)f.baseSamples, (unsigned long long)f.libSamples,
                    (long long)f.skippedPeriods, ok ? "met" : "MISSED", Load().c_str());
    }
    return met;
}

void PrintSide(const char* name, const SideLoad& s)
{
    std::printf(
        "  %-9s sent %7llu  arrived %7llu  out of sequence %llu  dropped by the machine %llu  "
        "longest %.1f ms  CPU %6.2f us/report  allocations %.3f/report (%.4f from the library's code)\n",
        name, (unsigned long long)s.sent, (unsigned long long)s.arrived, (unsigned long long)s.outOfSequence,
        (unsigned long long)s.dropped, s.longestMs, s.cpuNsPerReport / 1000, s.allocationsPerReport,
        s.libraryAllocationsPerReport);
}

bool ReportThroughput(double seconds)
{
    std::printf(
        "\nthroughput: 16 devices x 1000 reports/s on each side, sides half a period apart, %.1f s   %s\n",
        seconds, Load().c_str());
    const ThroughputFigures f = MeasureThroughput(seconds, g_startedThreads);
    std::printf("  periods skipped (the sender was not scheduled): %lld of %.0f\n",
                (long long)f.skippedPeriods, seconds * 1000);
    PrintSide("baseline", f.base);
    PrintSide("library", f.lib);
    const double ownAllocations = f.lib.allocationsPerReport - f.base.allocationsPerReport;
    std::printf("  library - baseline: CPU %.2f us/report (%.2f x baseline), allocations %.4f/report   %s\n",
                (f.lib.cpuNsPerReport - f.base.cpuNsPerReport) / 1000,
                f.lib.cpuNsPerReport / f.base.cpuNsPerReport, ownAllocations, Load().c_str());
    // A report the machine dropped was never read in time (32 queued: the reader did not run for 32 ms); the
    // library loses a report itself if one it read never reaches the callback, or reaches it twice.
    const uint64_t ownLosses = f.lib.sent - f.lib.arrived - f.lib.dropped;
    const bool allocates = f.lib.libraryAllocationsPerReport != 0;
    std::printf(
        "  lost by the library itself (sent - delivered - dropped): %llu; dropped by the machine: library "
        "%llu, baseline %llu; allocations by the library's code per delivery: %s\n",
        (unsigned long long)ownLosses, (unsigned long long)f.lib.dropped, (unsigned long long)f.base.dropped,
        allocates ? "SOME" : "none");
    const bool lost = ownLosses != 0 || f.lib.dropped != 0;
    return f.polled && !lost && !allocates;
}

// Within each kind (buttons, axes) the library's own cost per report (library minus plain reader) may grow at
// most as fast as the number of inputs: from one row to the one it is compared with, cost growth <= input
// growth, with 10 % for the measurement's own spread (own ns per input does not grow). The last row splits
// the 32 axes into two usage ranges of 16: the HID parser indexes a value range of up to 16 usages usage by
// usage and looks wider ones up apart, so the two 32-axis rows tell the parser's share from the library's.
bool ReportInputCost()
{
    std::printf(
        "\ncost per input: reader-thread CPU per report drained from a queue of 29, one device   %s\n",
        Load().c_str());
    std::printf(
        "  descriptor           inputs  base ns/report  lib ns/report  lib - base  ns/input  growth: inputs"
        "   cost\n");
    const std::vector<InputShape> shapes = {{"16 buttons", ButtonsDescriptor(16), 16, 3},
                                            {"64 buttons", ButtonsDescriptor(64), 64, 9},
                                            {"256 buttons", ButtonsDescriptor(256), 256, 33},
                                            {"4 axes", AxesDescriptor(4), 4, 9},
                                            {"16 axes", AxesDescriptor(16), 16, 33},
                                            {"32 axes", AxesDescriptor(32), 32, 65},
                                            {"32 axes, 2 ranges", AxesDescriptor(32, 16), 32, 65}};
    const int comparedWith[] = {-1, 0, 1, -1, 3, 4, 4}; // the row before it of its kind
    const std::vector<InputCostFigures> figures = MeasureInputCosts(shapes);
    bool met = true;
    std::vector<double> own;
    for (size_t i = 0; i < shapes.size(); ++i)
    {
        const InputShape& s = shapes[i];
        const InputCostFigures& f = figures[i];
        own.push_back(f.libNsPerReport - f.baseNsPerReport);
        std::printf("  %-19s %7d  %14.0f  %13.0f  %10.0f  %8.1f", s.name.c_str(), s.inputs, f.baseNsPerReport,
                    f.libNsPerReport, own.back(), own.back() / s.inputs);
        if (comparedWith[i] >= 0)
        {
            const size_t before = size_t(comparedWith[i]);
            const double inputGrowth = double(s.inputs) / shapes[before].inputs;
            const double costGrowth = own.back() / own[before];
            met = met && costGrowth <= 1.1 * inputGrowth;
            std::printf("  %13.2fx  %5.2fx", inputGrowth, costGrowth);
        }
        else
        {
            std::printf("  %22s", "");
        }
        std::printf("%s%s\n", f.polled ? "" : "  NOT POLLED", f.dropped ? "  DROPPED" : "");
        met = met && f.polled && f.dropped == 0 && own.back() > 0;
    }
    std::printf("  %s\n", Load().c_str());
    return met;
}

bool ReportIdle(double seconds)
{
    const IdleFigures f = MeasureIdle(16, seconds, &StartedThreadsCpuNs, int(g_startedThreads.size()));
    std::printf("\nidle: %d devices polled, silent for %.1f s   %s\n", f.devices, f.seconds, Load().c_str());
    std::printf(
        "  library readers: max %.4f ms CPU/s, mean %.4f ms CPU/s per device; plain readers: max %.4f "
        "ms CPU/s\n",
        f.libMaxReaderMsPerS, f.libMeanReaderMsPerS, f.baseMaxReaderMsPerS);
    std::printf("  the %d threads KvHRInitialize started (message thread among them): %lld ns CPU in all\n",
                f.startedThreads, (long long)f.startedThreadsNs);
    return f.polled && f.libMaxReaderMsPerS < 1.0;
}
} // namespace

int main(int argc, char** argv)
{
    const double latencySeconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const double throughputSeconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    const std::string sections = argc > 3 ? argv[3] : "ltci";
    auto runs = [&](char section) { return sections.find(section) != std::string::npos; };
    if (!WatchModules(
            {reinterpret_cast<const void*>(&KvHRInitialize), reinterpret_cast<const void*>(&KvDebugLog)}))
        std::printf("the library's code segments were not found: its own allocations are not told apart\n");
    const std::set<pid_t> before = ProcessThreads();
    if (KvHRInitialize() != 0)
    {
        std::printf("KvHRInitialize failed\n");
        return 1;
    }
    g_startedThreads = NewThreads(before, ProcessThreads());
    std::printf("bench_devices   %s\n", Load().c_str());
    const bool latency = !runs('l') || ReportLatency(latencySeconds);
    const bool throughput = !runs('t') || ReportThroughput(throughputSeconds);
    const bool inputCost = !runs('c') || ReportInputCost();
    const bool idle = !runs('i') || ReportIdle(5.0);
    KvHRUnInitialize();
    // The setup's allocations (devices opened, read buffers) show that the count sees the library's code.
    std::printf("\nallocations from the library's code over the whole run (setup included): %llu\n",
                (unsigned long long)WatchedAllocationCount());
    std::printf("\ntargets: latency %s, throughput and allocations %s, cost per input %s, idle %s\n",
                latency ? "met" : "MISSED", throughput ? "met" : "MISSED", inputCost ? "met" : "MISSED",
                idle ? "met" : "MISSED");
    return 0;
}
