// Cost per input: the sender keeps up to 24 reports of one device queued (the machine keeps 32 per handle),
// so the reader finds each next report waiting and hardly ever parks: the reader thread's CPU time per report
// is the reading, unpacking and delivering itself. Measured on the library's reader and on a plain reader of
// the same descriptor, in short chunks alternating between the two; each side keeps its cheapest chunk, the
// one least disturbed by the other processes on the machine.
#include "DeviceMeasures.h"
#include "LibraryDevices.h"
#include "PlainReader.h"
#include "ThreadCpu.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

namespace
{
constexpr int kQueued = 24;
constexpr int kReportsPerChunk = 1024;
constexpr int kChunks = 20;

// The CPU time the receiving thread spends between the first and the last arrival of a chunk.
struct CpuSpan
{
    std::atomic<int> arrived{0};
    int expected = 0;
    int64_t first = 0, last = 0;

    // One receiving thread per span: the count is published after the readings it covers.
    void Arrive()
    {
        const int n = arrived.load(std::memory_order_relaxed) + 1;
        if (n == 1)
            first = OwnThreadCpuNs();
        else if (n == expected)
            last = OwnThreadCpuNs();
        arrived.store(n, std::memory_order_release);
    }

    static void KVHR_CALL Library(void* context, const _stHidValue*, uint32_t)
    {
        static_cast<CpuSpan*>(context)->Arrive();
    }
    static void Plain(void* context, const unsigned char*, int64_t)
    {
        static_cast<CpuSpan*>(context)->Arrive();
    }
};

// Every report differs from the one before in every byte, so the unpacking has work on each.
void FillReport(std::vector<uint8_t>& report, int serial)
{
    report[0] = 0;
    for (size_t b = 1; b < report.size(); ++b)
        report[b] = static_cast<uint8_t>(serial * 37 + int(b) * 101);
}

// Sends a chunk to one side and returns its receiver's CPU ns per report.
double Chunk(const std::function<void(const std::vector<uint8_t>&)>& send, CpuSpan& span, int reportLength)
{
    span.arrived = 0;
    span.expected = kReportsPerChunk;
    std::vector<uint8_t> report(size_t(reportLength), 0);
    for (int sent = 0; sent < kReportsPerChunk;)
    {
        if (sent - span.arrived.load(std::memory_order_acquire) < kQueued)
        {
            FillReport(report, sent++);
            send(report);
        }
        else
        {
            std::this_thread::yield();
        }
    }
    while (span.arrived.load(std::memory_order_acquire) < kReportsPerChunk)
        std::this_thread::yield();
    return double(span.last - span.first) / double(kReportsPerChunk - 1);
}
} // namespace

InputCostFigures MeasureInputCost(const std::string& shape, const std::vector<uint8_t>& descriptor,
                                  int inputs, int reportLength)
{
    InputCostFigures figures;
    figures.shape = shape;
    figures.inputs = inputs;
    CpuSpan libSpan, baseSpan;
    LibraryDevices library(descriptor, 1, &CpuSpan::Library, &libSpan);
    PlainReader plain(descriptor, DWORD(reportLength), &CpuSpan::Plain, &baseSpan);
    figures.polled = library.Polled();
    if (!figures.polled)
        return figures;
    figures.baseNsPerReport = figures.libNsPerReport = 1e18;
    for (int c = 0; c < kChunks; ++c)
    {
        figures.baseNsPerReport = std::min(figures.baseNsPerReport, Chunk([&](const std::vector<uint8_t>& r)
                                                                          { plain.Send(r.data(), r.size()); },
                                                                          baseSpan, reportLength));
        figures.libNsPerReport =
            std::min(figures.libNsPerReport,
                     Chunk([&](const std::vector<uint8_t>& r) { library.Send(0, r.data(), r.size()); },
                           libSpan, reportLength));
    }
    return figures;
}
