// Cost per input: the reader's CPU time per report while it drains queued reports. The first report of a
// batch holds the reader inside its callback (or hook) until the rest of the batch is queued (the machine
// keeps 32 per handle), so the reader then takes each next report from the queue without parking: the time
// measured is the reading, unpacking and delivering itself. Measured on the library's reader and on a plain
// reader of the same descriptor, alternating in groups of batches; each side keeps its median batch.
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
constexpr int kBatch = 30;
constexpr int kBatchesPerGroup = 10;
constexpr int kGroups = 20;

// The receiving thread's CPU time from the release of a batch's first arrival to its last arrival.
struct BatchSpan
{
    std::atomic<int> arrived{0};
    std::atomic<bool> queued{false};
    int64_t first = 0, last = 0;

    // One receiving thread per span: the count is published after the readings it covers.
    void Arrive()
    {
        const int n = arrived.load(std::memory_order_relaxed) + 1;
        if (n == 1)
        {
            while (!queued.load(std::memory_order_acquire))
                std::this_thread::yield();
            first = OwnThreadCpuNs();
        }
        else if (n == kBatch)
        {
            last = OwnThreadCpuNs();
        }
        arrived.store(n, std::memory_order_release);
    }

    static void KVHR_CALL Library(void* context, const _stHidValue*, uint32_t)
    {
        static_cast<BatchSpan*>(context)->Arrive();
    }
    static void Plain(void* context, const unsigned char*, int64_t)
    {
        static_cast<BatchSpan*>(context)->Arrive();
    }
};

// Every report differs from the one before in every byte, so the unpacking has work on each.
void FillReport(std::vector<uint8_t>& report, int serial)
{
    report[0] = 0;
    for (size_t b = 1; b < report.size(); ++b)
        report[b] = static_cast<uint8_t>(serial * 37 + int(b) * 101);
}

// Sends one batch and returns the receiver's CPU ns per drained report.
double Batch(const std::function<void(const std::vector<uint8_t>&)>& send, BatchSpan& span,
             std::vector<uint8_t>& report, int& serial)
{
    span.arrived.store(0);
    span.queued.store(false);
    for (int i = 0; i < kBatch; ++i)
    {
        FillReport(report, serial++);
        send(report);
    }
    span.queued.store(true, std::memory_order_release);
    while (span.arrived.load(std::memory_order_acquire) < kBatch)
        std::this_thread::yield();
    return double(span.last - span.first) / double(kBatch - 1);
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}
} // namespace

InputCostFigures MeasureInputCost(const std::string& shape, const std::vector<uint8_t>& descriptor,
                                  int inputs, int reportLength)
{
    InputCostFigures figures;
    figures.shape = shape;
    figures.inputs = inputs;
    BatchSpan libSpan, baseSpan;
    LibraryDevices library(descriptor, 1, &BatchSpan::Library, &libSpan);
    PlainReader plain(descriptor, DWORD(reportLength), &BatchSpan::Plain, &baseSpan);
    figures.polled = library.Polled();
    if (!figures.polled)
        return figures;
    auto toPlain = [&](const std::vector<uint8_t>& r) { plain.Send(r.data(), r.size()); };
    auto toLibrary = [&](const std::vector<uint8_t>& r) { library.Send(0, r.data(), r.size()); };
    std::vector<uint8_t> report(size_t(reportLength), 0);
    int serial = 0;
    std::vector<double> base, lib;
    for (int g = 0; g < kGroups; ++g)
    {
        for (int b = 0; b < kBatchesPerGroup; ++b)
            base.push_back(Batch(toPlain, baseSpan, report, serial));
        for (int b = 0; b < kBatchesPerGroup; ++b)
            lib.push_back(Batch(toLibrary, libSpan, report, serial));
    }
    figures.baseNsPerReport = Median(base);
    figures.libNsPerReport = Median(lib);
    figures.dropped = library.Dropped();
    return figures;
}
