// Idle: devices polled by the library that send nothing, next to plain readers parked the same way.
#include "BenchClock.h"
#include "DeviceMeasures.h"
#include "LibraryDevices.h"
#include "PlainReader.h"
#include "ThreadCpu.h"

#include <algorithm>
#include <map>
#include <memory>

namespace
{
std::map<pid_t, int64_t> CpuOf(const std::set<pid_t>& threads)
{
    std::map<pid_t, int64_t> cpu;
    for (pid_t tid : threads)
        cpu[tid] = ThreadCpuNs(tid);
    return cpu;
}

// The largest and the mean CPU ms per second of the threads over the window.
void MsPerSecond(const std::map<pid_t, int64_t>& before, const std::map<pid_t, int64_t>& after,
                 double seconds, double& max, double& mean)
{
    max = 0;
    double sum = 0;
    for (const auto& [tid, cpu] : after)
    {
        const double ms = double(cpu - before.at(tid)) / 1e6 / seconds;
        max = std::max(max, ms);
        sum += ms;
    }
    mean = after.empty() ? 0 : sum / double(after.size());
}

void NoArrival(void*, const unsigned char*, int64_t) {}

void KVHR_CALL NoValues(void*, const _stHidValue*, uint32_t) {}
} // namespace

IdleFigures MeasureIdle(int devices, double seconds, int64_t (*startedThreadsCpuNs)(), int startedThreads)
{
    IdleFigures figures;
    figures.devices = devices;
    figures.seconds = seconds;
    figures.startedThreads = startedThreads;
    LibraryDevices library(GamePadDescriptor(), devices, &NoValues, nullptr);
    figures.polled = library.Polled();
    const std::set<pid_t> before = ProcessThreads();
    std::vector<std::unique_ptr<PlainReader>> plain;
    for (int i = 0; i < devices; ++i)
        plain.push_back(
            std::make_unique<PlainReader>(GamePadDescriptor(), kGamePadReportLength, &NoArrival, nullptr));
    const std::set<pid_t> plainThreads = NewThreads(before, ProcessThreads());
    SleepUntilNs(NowNs() + 200000000); // every reader parked in its wait

    const auto lib0 = CpuOf(library.ReaderThreads());
    const auto base0 = CpuOf(plainThreads);
    const int64_t started0 = startedThreadsCpuNs();
    SleepUntilNs(NowNs() + static_cast<int64_t>(seconds * 1e9));
    const auto lib1 = CpuOf(library.ReaderThreads());
    const auto base1 = CpuOf(plainThreads);
    figures.startedThreadsNs = startedThreadsCpuNs() - started0;
    double baseMean = 0;
    MsPerSecond(lib0, lib1, seconds, figures.libMaxReaderMsPerS, figures.libMeanReaderMsPerS);
    MsPerSecond(base0, base1, seconds, figures.baseMaxReaderMsPerS, baseMean);
    return figures;
}
