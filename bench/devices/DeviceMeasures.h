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
    double baseNsPerReport = 0, libNsPerReport = 0;
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

// devices polled at 1000 reports a second each for seconds, next to as many plain readers at the same rate,
// their reports sent half a period apart.
LatencyFigures MeasureLatency(int devices, double seconds);
// 16 devices at 1000 reports a second for seconds, next to 16 plain readers at the same rate, their reports
// sent half a period apart; startedThreads: the threads the library's start left running.
ThroughputFigures MeasureThroughput(double seconds, const std::set<pid_t>& startedThreads);
// One device of each shape: reader-thread CPU per report while it drains queued reports.
std::vector<InputCostFigures> MeasureInputCosts(const std::vector<InputShape>& shapes);
// devices polled and silent for seconds.
IdleFigures MeasureIdle(int devices, double seconds, int64_t (*startedThreadsCpuNs)(), int startedThreads);
