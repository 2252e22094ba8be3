// Cost per input: the reader's CPU time per report while it drains queued reports. The first report of a
// batch holds the reader inside its callback (or hook) until the rest of the batch is queued (the machine
// keeps 32 per handle), so the reader then takes each next report from the queue without parking: the time
// measured is the reading, unpacking and delivering itself. Measured on the library's reader and on a plain
// reader of each descriptor, all plugged at once and taken in turn in groups of batches, so that every row
// meets the same disturbances from the rest of the machine. Each keeps its 10th-percentile batch:
// other processes only ever add to a batch's time (on this machine they slow over half the batches now and
// then), so a low percentile is the cost itself, and not a single lucky batch.
#include "DeviceMeasures.h"
#include "LibraryDevices.h"
#include "PlainReader.h"
#include "ThreadCpu.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace
{
constexpr int kBatch = 30;
constexpr int kBatchesPerGroup = 5;
constexpr int kGroups = 40;

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

double TenthPercentile(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 10];
}
} // namespace

std::vector<InputCostFigures> MeasureInputCosts(const std::vector<InputShape>& shapes)
{
    const size_t n = shapes.size();
    std::vector<InputCostFigures> figures(n);
    std::vector<BatchSpan> libSpans(n), baseSpans(n);
    // Every library device before any plain reader: the library's updates must not open the readers' devices.
    std::vector<std::unique_ptr<LibraryDevices>> libraries;
    for (size_t i = 0; i < n; ++i)
        libraries.push_back(
            std::make_unique<LibraryDevices>(shapes[i].descriptor, 1, &BatchSpan::Library, &libSpans[i]));
    std::vector<std::unique_ptr<PlainReader>> plains;
    for (size_t i = 0; i < n; ++i)
        plains.push_back(std::make_unique<PlainReader>(shapes[i].descriptor, DWORD(shapes[i].reportLength),
                                                       &BatchSpan::Plain, &baseSpans[i]));
    std::vector<std::vector<double>> base(n), lib(n);
    int serial = 0;
    for (int g = 0; g < kGroups; ++g)
    {
        for (size_t i = 0; i < n; ++i)
        {
            if (!libraries[i]->Polled())
                continue;
            std::vector<uint8_t> report(size_t(shapes[i].reportLength), 0);
            PlainReader& plain = *plains[i];
            LibraryDevices& library = *libraries[i];
            auto toPlain = [&](const std::vector<uint8_t>& r) { plain.Send(r.data(), r.size()); };
            auto toLibrary = [&](const std::vector<uint8_t>& r) { library.Send(0, r.data(), r.size()); };
            for (int b = 0; b < kBatchesPerGroup; ++b)
                base[i].push_back(Batch(toPlain, baseSpans[i], report, serial));
            for (int b = 0; b < kBatchesPerGroup; ++b)
                lib[i].push_back(Batch(toLibrary, libSpans[i], report, serial));
        }
    }
    for (size_t i = 0; i < n; ++i)
    {
        figures[i].polled = libraries[i]->Polled();
        figures[i].baseNsPerReport = TenthPercentile(base[i]);
        figures[i].libNsPerReport = TenthPercentile(lib[i]);
        figures[i].dropped = libraries[i]->Dropped();
        figures[i].baseBatches = base[i];
        figures[i].libBatches = lib[i];
    }
    plains.clear(); // unplugged before the library's last updates
    return figures;
}
