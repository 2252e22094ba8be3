// The machine's cost next to the platform's floor, in one run (see bench/README.md):
//  - latency: median time from sending an input report to the return of the reader's wait, against
//    the median one-way futex hand-off to a parked thread;
//  - load: CPU time per report with 64 devices sending 1000 reports a second each to their own
//    reader threads, against the CPU time per hand-off of 64 futex waiters woken as often.
// Usage: bench_machine [seconds per load run, default 3]
#include "FutexFloor.h"
#include "MachineLoad.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

void Append(std::vector<int64_t>& to, const std::vector<int64_t>& from)
{
    to.insert(to.end(), from.begin(), from.end());
}

void Add(LoadResult& total, const LoadResult& run, double& cpuNs)
{
    cpuNs += run.cpuNsPerDelivery * double(run.deliveries);
    total.deliveries += run.deliveries;
    total.cpuNsPerDelivery = cpuNs / double(total.deliveries);
}

} // namespace

int main(int argc, char** argv)
{
    double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const int rounds = 10, samplesPerRound = 200, devices = 64, rate = 1000;

    // Floor and machine alternate in rounds, so both see the same load from the rest of the system.
    std::vector<int64_t> floorSamples, machineSamples;
    for (int round = 0; round < rounds; ++round)
    {
        Append(floorSamples, FloorHandOffLatencies(samplesPerRound));
        Append(machineSamples, MachineReportLatencies(samplesPerRound));
    }
    double floorLatency = MedianUs(floorSamples);
    double machineLatency = MedianUs(machineSamples);
    std::printf("latency (median of %d, reader parked %lld us before each send)\n", rounds * samplesPerRound,
                static_cast<long long>(kParkDelayNs / 1000));
    std::printf("  floor, futex hand-off         %8.2f us\n", floorLatency);
    std::printf("  machine, report to reader     %8.2f us   (%.2f x floor)\n", machineLatency,
                machineLatency / floorLatency);

    LoadResult floorLoad, machineLoad;
    double floorCpu = 0, machineCpu = 0;
    for (int half = 0; half < 2; ++half)
    {
        Add(floorLoad, FloorLoad(devices, rate, seconds / 2), floorCpu);
        Add(machineLoad, MachineLoad(devices, rate, seconds / 2), machineCpu);
    }
    std::printf("load (%d readers x %d/s, %.1f s each), CPU time per delivery, all threads\n", devices, rate,
                seconds);
    std::printf("  floor, futex hand-offs        %8.2f us   (%llu hand-offs)\n",
                floorLoad.cpuNsPerDelivery / 1000, static_cast<unsigned long long>(floorLoad.deliveries));
    std::printf("  machine, reports              %8.2f us   (%llu reports, %.2f x floor)\n",
                machineLoad.cpuNsPerDelivery / 1000, static_cast<unsigned long long>(machineLoad.deliveries),
                machineLoad.cpuNsPerDelivery / floorLoad.cpuNsPerDelivery);
    return 0;
}
