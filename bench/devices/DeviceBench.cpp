// The library's delivery path next to the machine's own read completion, in one run (see bench/README.md):
// latency from SendInputReport to the return of the application's callback, throughput and CPU per report,
// allocations per delivery, cost per input, and the cost of idle polled devices and of the message thread.
#include <windows.h>

#include "BenchClock.h"
#include "KvHidRaw.h"
#include "machine/Machine.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using winport::machine::Machine;

// ---- Allocation count: every malloc, calloc and realloc of the process while counting is on ----

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
namespace
{
std::atomic<bool> counting{false};
std::atomic<uint64_t> allocations{0};
} // namespace
extern "C" void* malloc(size_t n)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t a, size_t b)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(a, b);
}
extern "C" void* realloc(void* p, size_t n)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}

namespace
{
constexpr int kMaxDevices = 16;
constexpr uint32_t kRing = 1 << 16;

// Buttons 1-8, then X and Y (16 bits each): X and Y carry a report's sequence number.
const std::vector<uint8_t> kSequencePad = {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29,
                                           0x08, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02,
                                           0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x00, 0x27, 0xFF, 0xFF,
                                           0x00, 0x00, 0x75, 0x10, 0x95, 0x02, 0x81, 0x02, 0xC0};

// A device of n one-bit buttons, or of n 16-bit axes.
std::vector<uint8_t> InputsDescriptor(int n, bool buttons)
{
    std::vector<uint8_t> d = {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01};
    if (buttons)
        d.insert(d.end(), {0x05, 0x09, 0x19, 0x01, 0x2A, uint8_t(n & 0xFF), uint8_t(n >> 8), 0x15, 0x00, 0x25,
                           0x01, 0x75, 0x01, 0x96, uint8_t(n & 0xFF), uint8_t(n >> 8), 0x81, 0x02});
    else
        d.insert(d.end(), {0x05, 0x01, 0x19, 0x30, 0x29, uint8_t(0x30 + n - 1), 0x15, 0x00, 0x27, 0xFF, 0xFF,
                           0x00, 0x00, 0x75, 0x10, 0x95, uint8_t(n), 0x81, 0x02});
    d.push_back(0xC0);
    return d;
}

// One device's sequence numbers, send times and measured latencies.
struct Track
{
    uint32_t machineId = 0;
    uint32_t position = 0;
    std::vector<int64_t> sentAt = std::vector<int64_t>(kRing);
    std::vector<int64_t> latencies;
    std::atomic<uint64_t> received{0};
    uint32_t seq = 0;
    uint32_t lastSeen = 0xFFFFFFFF;

    void Record(uint32_t s, int64_t now)
    {
        received.fetch_add(1, std::memory_order_relaxed);
        if (s == lastSeen)
            return; // the delivery that ends polling repeats the last report
        lastSeen = s;
        if (latencies.size() < latencies.capacity())
            latencies.push_back(now - sentAt[s % kRing]);
    }
};

void KVHR_CALL LibraryCallback(void* context, const _stHidValue* values, uint32_t count)
{
    const int64_t now = NowNs();
    Track* track = static_cast<Track*>(context);
    uint32_t x = 0, y = 0;
    bool sequenced = false;
    for (uint32_t i = 0; i < count; ++i)
    {
        if (values[i].usagePage != 1 || (values[i].usage != 0x30 && values[i].usage != 0x31))
            continue;
        (values[i].usage == 0x30 ? x : y) = values[i].value;
        sequenced = count == 10;
    }
    if (sequenced)
        track->Record(x | (y << 16), now);
    else
        track->received.fetch_add(1, std::memory_order_relaxed);
}

// The baseline: a plain reader thread per device, with the library's overlapped-read pattern.
class PlainReader
{
public:
    PlainReader(Track& track, DWORD length) : track_(track), length_(length)
    {
        const std::u16string path = Machine::Instance().InterfacePaths(track.machineId).at(0);
        file_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        thread_ = std::thread([this] { Run(); });
    }
    ~PlainReader()
    {
        stop_ = true;
        CloseHandle(file_); // completes the pending read
        thread_.join();
        CloseHandle(event_);
    }

private:
    void Run()
    {
        std::vector<BYTE> buffer(length_);
        while (!stop_)
        {
            OVERLAPPED overlapped{};
            overlapped.hEvent = event_;
            if (!ReadFile(file_, buffer.data(), length_, nullptr, &overlapped))
            {
                if (GetLastError() != ERROR_IO_PENDING)
                    return;
                WaitForSingleObject(event_, INFINITE);
                DWORD bytes = 0;
                if (!GetOverlappedResult(file_, &overlapped, &bytes, FALSE) || stop_)
                    return;
            }
            const int64_t now = NowNs();
            if (length_ >= 6)
                track_.Record(buffer[2] | buffer[3] << 8 | buffer[4] << 16 | uint32_t(buffer[5]) << 24, now);
            else
                track_.received.fetch_add(1, std::memory_order_relaxed);
        }
    }

    Track& track_;
    DWORD length_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct RunResult
{
    std::vector<int64_t> latencies;
    uint64_t sent = 0;
    uint64_t received = 0;
    uint64_t dropped = 0;
    int64_t cpuNs = 0;
    uint64_t allocations = 0;
};

double PercentileUs(std::vector<int64_t> samples, double p)
{
    if (samples.empty())
        return 0.0;
    std::sort(samples.begin(), samples.end());
    return samples[std::min(samples.size() - 1, size_t(p * samples.size()))] / 1000.0;
}

uint64_t Dropped(const std::vector<Track*>& tracks)
{
    uint64_t dropped = 0;
    for (Track* t : tracks)
        dropped += Machine::Instance().GetDeviceStats(t->machineId).reportsDropped;
    return dropped;
}

// Sends rate reports per second to every device for the given time and measures what the readers saw.
RunResult Drive(const std::vector<Track*>& tracks, int rate, double seconds, size_t reportLength)
{
    RunResult result;
    const uint64_t droppedBefore = Dropped(tracks);
    for (Track* t : tracks)
    {
        t->latencies.clear();
        t->latencies.reserve(size_t(rate * seconds) + 16);
        t->received = 0;
        t->lastSeen = 0xFFFFFFFF;
    }
    SleepUntilNs(NowNs() + 50000000); // readers parked
    allocations = 0;
    counting = true;
    const int64_t cpu0 = ProcessCpuNs();
    const int64_t period = 1000000000 / rate;
    const int64_t start = NowNs();
    const int64_t end = start + int64_t(seconds * 1e9);
    std::vector<uint8_t> report(reportLength, 0);
    for (int64_t tick = start; tick < end; tick += period)
    {
        SleepUntilNs(tick);
        for (Track* t : tracks)
        {
            const uint32_t s = ++t->seq;
            if (reportLength >= 6)
            {
                report[1] = uint8_t(s);
                report[2] = uint8_t(s);
                report[3] = uint8_t(s >> 8);
                report[4] = uint8_t(s >> 16);
                report[5] = uint8_t(s >> 24);
            }
            t->sentAt[s % kRing] = NowNs();
            Machine::Instance().SendInputReport(t->machineId, report.data(), report.size());
            ++result.sent;
        }
    }
    SleepUntilNs(NowNs() + 20000000); // the last reports land
    result.cpuNs = ProcessCpuNs() - cpu0;
    counting = false;
    result.allocations = allocations;
    for (Track* t : tracks)
    {
        result.received += t->received;
        result.latencies.insert(result.latencies.end(), t->latencies.begin(), t->latencies.end());
    }
    result.dropped = Dropped(tracks) - droppedBefore;
    return result;
}

void Poll(const std::vector<Track*>& tracks, bool on)
{
    for (Track* t : tracks)
    {
        if (on)
            KvHRSetReadDeviceValuesCallback(t->position, &LibraryCallback, t);
        KvHRSetPolling(t->position, on ? 1 : 0);
    }
    if (!on)
        SleepUntilNs(NowNs() + 1200000000); // the readers see the stop within their 1000 ms wait
}

RunResult DriveBaseline(const std::vector<Track*>& tracks, int rate, double seconds, size_t reportLength)
{
    std::vector<std::unique_ptr<PlainReader>> readers;
    for (Track* t : tracks)
        readers.push_back(std::make_unique<PlainReader>(*t, DWORD(reportLength)));
    RunResult result = Drive(tracks, rate, seconds, reportLength);
    readers.clear();
    return result;
}

RunResult DriveLibrary(const std::vector<Track*>& tracks, int rate, double seconds, size_t reportLength)
{
    Poll(tracks, true);
    RunResult result = Drive(tracks, rate, seconds, reportLength);
    Poll(tracks, false);
    return result;
}

std::vector<Track*> First(std::vector<std::unique_ptr<Track>>& tracks, int n)
{
    std::vector<Track*> out;
    for (int i = 0; i < n; ++i)
        out.push_back(tracks[i].get());
    return out;
}

void PrintLatency(const char* what, int n, const RunResult& base, const RunResult& lib)
{
    const double bMed = PercentileUs(base.latencies, 0.5), lMed = PercentileUs(lib.latencies, 0.5);
    const double b99 = PercentileUs(base.latencies, 0.99), l99 = PercentileUs(lib.latencies, 0.99);
    std::printf("%-10s %2d devices  median %7.1f us vs %7.1f us (x%.2f)   p99 %7.1f us vs %7.1f us (x%.2f)\n",
                what, n, lMed, bMed, bMed > 0 ? lMed / bMed : 0.0, l99, b99, b99 > 0 ? l99 / b99 : 0.0);
}

void PrintThroughput(int n, double seconds, const RunResult& base, const RunResult& lib)
{
    std::printf(
        "throughput %2d devices x 1000/s x %.0f s: library %llu of %llu delivered (%llu dropped by the "
        "machine), baseline %llu of %llu (%llu dropped)\n",
        n, seconds, (unsigned long long)lib.received, (unsigned long long)lib.sent,
        (unsigned long long)lib.dropped, (unsigned long long)base.received, (unsigned long long)base.sent,
        (unsigned long long)base.dropped);
    std::printf("  CPU per report: library %.2f us, baseline %.2f us; allocations per report: library %.3f, "
                "baseline %.3f\n",
                lib.cpuNs / 1000.0 / double(std::max<uint64_t>(lib.sent, 1)),
                base.cpuNs / 1000.0 / double(std::max<uint64_t>(base.sent, 1)),
                double(lib.allocations) / double(std::max<uint64_t>(lib.sent, 1)),
                double(base.allocations) / double(std::max<uint64_t>(base.sent, 1)));
}
} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    // The library opens the first 16 interfaces; the baseline reads 16 devices of its own, which the
    // library never opens (an open handle that nobody reads would fill its queue and count as drops).
    std::vector<std::unique_ptr<Track>> tracks, plain;
    for (int i = 0; i < 2 * kMaxDevices; ++i)
    {
        auto t = std::make_unique<Track>();
        winport::machine::HidDeviceDescription description;
        description.reportDescriptor = kSequencePad;
        t->machineId = Machine::Instance().PlugDevice(description);
        (i < kMaxDevices ? tracks : plain).push_back(std::move(t));
    }
    KvHRInitialize();
    uint32_t* list = nullptr;
    uint32_t count = 0;
    KvHRGetDevicesList(&list, &count);
    if (count != kMaxDevices)
    {
        std::printf("expected %d devices, the library holds %u\n", kMaxDevices, count);
        return 1;
    }
    for (uint32_t i = 0; i < count; ++i)
        tracks[i]->position = list[i];
    KvHRFree(list);

    for (int n : {1, 8, 16})
    {
        const RunResult base = DriveBaseline(First(plain, n), 1000, seconds, 6);
        const RunResult lib = DriveLibrary(First(tracks, n), 1000, seconds, 6);
        PrintLatency("latency", n, base, lib);
    }
    const double longRun = 10.0;
    const RunResult base = DriveBaseline(First(plain, 16), 1000, longRun, 6);
    const RunResult lib = DriveLibrary(First(tracks, 16), 1000, longRun, 6);
    PrintLatency("(10 s run)", 16, base, lib);
    PrintThroughput(16, longRun, base, lib);

    // Idle: 16 polled devices that send nothing, then none polled (the message thread alone).
    Poll(First(tracks, 16), true);
    SleepUntilNs(NowNs() + 200000000);
    int64_t cpu0 = ProcessCpuNs();
    SleepUntilNs(NowNs() + int64_t(seconds * 1e9));
    const double idlePolled = (ProcessCpuNs() - cpu0) / 1000.0 / 16.0 / seconds;
    Poll(First(tracks, 16), false);
    cpu0 = ProcessCpuNs();
    SleepUntilNs(NowNs() + int64_t(seconds * 1e9));
    const double idleNone = (ProcessCpuNs() - cpu0) / 1000.0 / seconds;
    std::printf(
        "idle: %.1f us CPU per polled device per second; %.1f us CPU per second with nothing polled\n",
        idlePolled, idleNone);

    // Cost per input: the same rate through devices of more and more inputs.
    for (auto* group : {&tracks, &plain})
        for (auto& t : *group)
            Machine::Instance().UnplugDevice(t->machineId, winport::machine::Removal::Surprise);
    KvHRUpdateHidDevicesList();
    struct Shape
    {
        int n;
        bool buttons;
        size_t reportLength;
    };
    const Shape shapes[] = {{16, true, 3}, {64, true, 9},   {256, true, 33},
                            {4, false, 9}, {16, false, 33}, {32, false, 65}};
    std::vector<std::unique_ptr<Track>> shaped, shapedPlain;
    auto plugShapes = [&](std::vector<std::unique_ptr<Track>>& group)
    {
        for (const Shape& s : shapes)
        {
            auto t = std::make_unique<Track>();
            winport::machine::HidDeviceDescription description;
            description.reportDescriptor = InputsDescriptor(s.n, s.buttons);
            t->machineId = Machine::Instance().PlugDevice(description);
            group.push_back(std::move(t));
        }
    };
    plugShapes(shaped);
    KvHRUpdateHidDevicesList();
    plugShapes(shapedPlain); // after the update: the library never opens the baseline's twins
    KvHRGetDevicesList(&list, &count);
    for (uint32_t i = 0; i < count && i < shaped.size(); ++i)
        shaped[i]->position = list[i];
    KvHRFree(list);
    for (size_t i = 0; i < shaped.size(); ++i)
    {
        std::vector<Track*> one = {shaped[i].get()};
        const RunResult b = DriveBaseline({shapedPlain[i].get()}, 1000, seconds, shapes[i].reportLength);
        const RunResult l = DriveLibrary(one, 1000, seconds, shapes[i].reportLength);
        const double perReport = (l.cpuNs - b.cpuNs) / 1000.0 / double(std::max<uint64_t>(l.sent, 1));
        std::printf(
            "cost per input: %3d %s: library CPU per report above the baseline %.2f us (%llu delivered, "
            "%llu sent)\n",
            shapes[i].n, shapes[i].buttons ? "one-bit buttons" : "16-bit axes   ", perReport,
            (unsigned long long)l.received, (unsigned long long)l.sent);
    }
    KvHRUnInitialize();
    return 0;
}
