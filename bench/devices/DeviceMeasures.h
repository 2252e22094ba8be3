// The figures of the library's device benchmark, each next to its baseline from the same run: the machine's
// own delivery to plain reader threads (bench/machine's PlainReader).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

struct LatencyFigures
{
    int devices = 0;
    double baseMedianUs = 0, baseP99Us = 0, libMedianUs = 0, libP99Us = 0;
    uint64_t baseSamples = 0, libSamples = 0;
    int64_t skippedPeriods = 0; // ms the sender was not scheduled in
    bool polled = false;
};

struct SideLoad
{
    uint64_t sent = 0, arrived = 0, outOfSequence = 0, dropped = 0;
    double cpuNsPerReport = 0;
    double longestMs = 0;                   // the longest send-to-arrival time
    double allocationsPerReport = 0;        // every module's, on the side's receiving and sending threads
    double libraryAllocationsPerReport = 0; // called from the library's and its helper DLL's code
};

struct ThroughputFigures
{
    SideLoad base, lib;
    int64_t skippedPeriods = 0; // ms the sender was not scheduled in
    bool polled = false;
};

struct InputShape
{
    std::string name;
    std::vector<uint8_t> descriptor;
    int inputs = 0, reportLength = 0;
};

struct InputCostFigures
{
    double baseNsPerReport = 0, libNsPerReport = 0; // each side's 10th-percentile batch
    std::vector<double> baseBatches, libBatches;    // ns per report of every batch
    uint64_t dropped = 0; // by the machine from the library's queue: a batch too large
    bool polled = false;
};

struct IdleFigures
{
    int devices = 0;
    double seconds = 0;
    double libMaxReaderMsPerS = 0, libMeanReaderMsPerS = 0, baseMaxReaderMsPerS = 0;
    int64_t startedThreadsNs = 0; // the threads KvHRInitialize started (the message thread among them)
    int startedThreads = 0;
    bool polled = false;
};

struct FilteredFigures
{
    int inputs = 0; // per round and side; two rounds
    uint64_t pushed = 0, delivered = 0;
    uint64_t deliveredAllocations = 0; // every module's, polling on
    uint64_t droppedAllocations = 0;   // the same inputs with polling off: the service's and winport's share
    uint64_t libraryCodeAllocations = 0; // called from the library's and its helper DLL's code, both sides
};

struct VirtualFigures
{
    int rounds = 0;
    double periods = 0; // 120 ms periods measured on each side
    bool polled = false;
    int64_t libCpuNs = 0, emptyCpuNs = 0; // the timer thread's CPU with nothing pressed
    uint64_t libAllocations = 0, emptyAllocations = 0, libraryCodeAllocations = 0;
    uint64_t typedDeliveries = 0, typedAllocations = 0, typedLibraryCodeAllocations = 0,
             unpolledAllocations = 0;
};

// devices polled at 1000 reports a second each for seconds, next to as many plain readers at the same rate,
// their reports sent half a period apart.
LatencyFigures MeasureLatency(int devices, double seconds);
// 16 devices at 1000 reports a second for seconds, next to 16 plain readers at the same rate, their reports
// sent half a period apart; startedThreads: the threads the library's start left running.
ThroughputFigures MeasureThroughput(double seconds, const std::set<pid_t>& startedThreads);
// One device of each shape: reader-thread CPU per report while it drains queued reports.
std::vector<InputCostFigures> MeasureInputCosts(const std::vector<InputShape>& shapes);
// A filtered device's inputs through the simulated service, polling on against polling off.
FilteredFigures MeasureFilteredDeliveries(int inputs);
// The virtual devices' ticks with nothing pressed against an empty timer-queue callback, alternated; then
// keys typed with polling on and off.
VirtualFigures MeasureVirtualTicks(double windowSeconds, int rounds);
// devices polled and silent for seconds.
IdleFigures MeasureIdle(int devices, double seconds, int64_t (*startedThreadsCpuNs)(), int startedThreads);
