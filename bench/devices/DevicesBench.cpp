// The library's physical devices against the machine's own delivery, in one run (see bench/README.md):
//  - latency from SendInputReport to the return of the values callback, 1, 8 and 16 devices at 1000
//    reports a second each, against the same reports to plain reader threads;
//  - throughput, CPU and allocations per report: 16 devices x 1000 reports a second;
//  - cost per input: descriptors of 16 to 256 buttons and of 4 to 64 16-bit axes, and how it grows;
//  - idle: polled devices sending nothing, and the threads the library's start left running;
//  - filtered deliveries and virtual-device ticks: allocations, and the timer thread's CPU per tick.
// Usage: bench_devices [latency seconds, default 3] [throughput seconds, default 10] [sections]
// sections: any of the letters l (latency), t (throughput), c (cost per input), i (idle), f (filtered),
// v (virtual); default all.
#include "AllocationCount.h"
#include "DeviceMeasures.h"
#include "GrowthFit.h"
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

// The target: the library's own cost per report (library minus plain reader) grows at most linearly with the
// number of inputs. Per kind (buttons; axes in one usage range) the own cost of every size is fitted with
// fixed + scale * n^exponent, and the exponent's spread taken from a bootstrap over the batches. Met when
// linear growth (exponent 1) lies within the 90 % interval or above it; MISSED when the whole interval lies
// above 1; UNDECIDED when the interval is wider than 0.5 or a larger descriptor cost less than a smaller one
// (too noisy a run to tell). The rows split into
// ranges of 16 tell the parser's share: it indexes value ranges of up to 16 usages usage by usage and looks
// wider ones up apart.
enum class Verdict
{
    Met,
    Undecided,
    Missed
};

const char* Text(Verdict v)
{
    return v == Verdict::Met ? "met" : v == Verdict::Missed ? "MISSED" : "UNDECIDED";
}

struct CostKind
{
    const char* name;
    std::vector<size_t> rows;
};

Verdict ReportGrowth(const CostKind& kind, const std::vector<InputShape>& shapes,
                     const std::vector<InputCostFigures>& figures)
{
    std::vector<CostSamples> samples;
    for (size_t row : kind.rows)
        samples.push_back({double(shapes[row].inputs), figures[row].baseBatches, figures[row].libBatches});
    const GrowthEstimate g = EstimateGrowth(samples, 400);
    std::printf(
        "  %s: own = %.0f ns + %.2f ns x n^%.2f, exponent 90 %% interval %.2f to %.2f; marginal ns per "
        "added input:",
        kind.name, g.fit.fixedNs, g.fit.scaleNs, g.fit.exponent, g.low, g.high);
    // A larger descriptor measured cheaper than a smaller one means a row was disturbed for the whole run
    // (a reader placed badly, say): the fit would read that as growth, so such a run decides nothing.
    bool disturbed = false;
    for (size_t i = 1; i < samples.size(); ++i)
    {
        const double marginal =
            (OwnCost(samples[i]) - OwnCost(samples[i - 1])) / (samples[i].inputs - samples[i - 1].inputs);
        disturbed = disturbed || marginal < 0;
        std::printf(" %.1f", marginal);
    }
    const bool undecided = disturbed || g.high - g.low > 0.5;
    const bool missed = !undecided && g.low > 1.0;
    std::printf("  %s\n", missed      ? "MISSED"
                          : disturbed ? "UNDECIDED (a larger descriptor cost less: rows disturbed)"
                          : undecided ? "UNDECIDED (spread too wide)"
                                      : "met");
    return missed ? Verdict::Missed : undecided ? Verdict::Undecided : Verdict::Met;
}

Verdict ReportInputCost()
{
    std::printf(
        "\ncost per input: reader-thread CPU per report drained from a queue of 29, one device   %s\n",
        Load().c_str());
    std::printf("  descriptor              inputs  base ns/report  lib ns/report  lib - base  ns/input\n");
    const std::vector<InputShape> shapes = {{"16 buttons", ButtonsDescriptor(16), 16, 3},
                                            {"32 buttons", ButtonsDescriptor(32), 32, 5},
                                            {"64 buttons", ButtonsDescriptor(64), 64, 9},
                                            {"128 buttons", ButtonsDescriptor(128), 128, 17},
                                            {"256 buttons", ButtonsDescriptor(256), 256, 33},
                                            {"4 axes", AxesDescriptor(4), 4, 9},
                                            {"8 axes", AxesDescriptor(8), 8, 17},
                                            {"16 axes", AxesDescriptor(16), 16, 33},
                                            {"24 axes", AxesDescriptor(24), 24, 49},
                                            {"32 axes", AxesDescriptor(32), 32, 65},
                                            {"48 axes", AxesDescriptor(48), 48, 97},
                                            {"64 axes", AxesDescriptor(64), 64, 129},
                                            {"32 axes, 2 ranges", AxesDescriptor(32, 16), 32, 65},
                                            {"64 axes, 4 ranges", AxesDescriptor(64, 16), 64, 129}};
    const std::vector<InputCostFigures> figures = MeasureInputCosts(shapes);
    bool met = true;
    for (size_t i = 0; i < shapes.size(); ++i)
    {
        const InputShape& s = shapes[i];
        const InputCostFigures& f = figures[i];
        const double own = f.libNsPerReport - f.baseNsPerReport;
        std::printf("  %-22s %7d  %14.0f  %13.0f  %10.0f  %8.1f%s%s\n", s.name.c_str(), s.inputs,
                    f.baseNsPerReport, f.libNsPerReport, own, own / s.inputs, f.polled ? "" : "  NOT POLLED",
                    f.dropped ? "  DROPPED" : "");
        met = met && f.polled && f.dropped == 0 && own > 0;
    }
    const Verdict buttons = ReportGrowth({"buttons", {0, 1, 2, 3, 4}}, shapes, figures);
    const Verdict axes = ReportGrowth({"axes, one range", {5, 6, 7, 8, 9, 10, 11}}, shapes, figures);
    const Verdict growth = std::max(buttons, axes);
    const auto own = [&](size_t row) { return figures[row].libNsPerReport - figures[row].baseNsPerReport; };
    std::printf("  ranges of 16 against one range: 32 axes %.2f x, 64 axes %.2f x\n", own(12) / own(9),
                own(13) / own(11));
    std::printf("  %s\n", Load().c_str());
    return met ? growth : Verdict::Missed;
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
bool ReportFiltered()
{
    const FilteredFigures f = MeasureFilteredDeliveries(20000);
    const double inputs = double(f.pushed) / 2;
    const double perDelivery = double(f.deliveredAllocations) / inputs;
    const double perDrop = double(f.droppedAllocations) / inputs;
    std::printf("\nfiltered: %d inputs x 2 rounds, polling on (delivered %llu) and off   %s\n", f.inputs,
                (unsigned long long)f.delivered, Load().c_str());
    std::printf("  allocations per input: delivered %.4f, dropped %.4f (the service's and winport's share), "
                "difference %.4f; from the library's code: %llu\n",
                perDelivery, perDrop, perDelivery - perDrop, (unsigned long long)f.libraryCodeAllocations);
    // The exact count decides; the difference (every module, both rounds) would show one allocation per
    // hundred deliveries.
    return f.delivered == uint64_t(inputs) && f.libraryCodeAllocations == 0 && perDelivery - perDrop < 0.01;
}

bool ReportVirtual()
{
    const VirtualFigures f = MeasureVirtualTicks(3.0, 3);
    std::printf("\nvirtual: keyboard and mouse polled, nothing pressed, against two empty 120 ms timer-queue "
                "callbacks, %d rounds of 3 s each, alternated   %s\n",
                f.rounds, Load().c_str());
    const double libCpu = double(f.libCpuNs) / f.periods, emptyCpu = double(f.emptyCpuNs) / f.periods;
    std::printf("  timer thread CPU per 120 ms period: library %.1f us, empty callbacks %.1f us (%.2f x)\n",
                libCpu / 1000, emptyCpu / 1000, libCpu / emptyCpu);
    std::printf(
        "  allocations per period: library %.4f, empty callbacks %.4f; from the library's code: %llu\n",
        double(f.libAllocations) / f.periods, double(f.emptyAllocations) / f.periods,
        (unsigned long long)f.libraryCodeAllocations);
    std::printf("  keys typed for 3 s: %llu deliveries; allocations polled %llu, not polled %llu, difference "
                "%.4f per delivery; from the library's code: %llu   %s\n",
                (unsigned long long)f.typedDeliveries, (unsigned long long)f.typedAllocations,
                (unsigned long long)f.unpolledAllocations,
                (double(f.typedAllocations) - double(f.unpolledAllocations)) / double(f.typedDeliveries),
                (unsigned long long)f.typedLibraryCodeAllocations, Load().c_str());
    return f.polled && f.libraryCodeAllocations == 0 && f.typedLibraryCodeAllocations == 0 &&
           f.typedDeliveries > 0;
}
} // namespace

int main(int argc, char** argv)
{
    const double latencySeconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const double throughputSeconds = argc > 2 ? std::atof(argv[2]) : 10.0;
    const std::string sections = argc > 3 ? argv[3] : "ltcifv";
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
    const Verdict inputCost = runs('c') ? ReportInputCost() : Verdict::Met;
    const bool idle = !runs('i') || ReportIdle(5.0);
    const bool filtered = !runs('f') || ReportFiltered();
    const bool keysAndMouse = !runs('v') || ReportVirtual();
    KvHRUnInitialize();
    // The setup's allocations (devices opened, read buffers) show that the count sees the library's code.
    std::printf("\nallocations from the library's code over the whole run (setup included): %llu\n",
                (unsigned long long)WatchedAllocationCount());
    std::printf("\ntargets: latency %s, throughput and allocations %s, cost per input %s, idle %s, filtered "
                "deliveries %s, virtual ticks %s\n",
                latency ? "met" : "MISSED", throughput ? "met" : "MISSED", Text(inputCost),
                idle ? "met" : "MISSED", filtered ? "met" : "MISSED", keysAndMouse ? "met" : "MISSED");
    return 0;
}
