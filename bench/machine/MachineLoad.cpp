#include "MachineLoad.h"

#include "PlainReader.h"

#include <memory>
#include <thread>

namespace
{

std::unique_ptr<PlainReader> GamePadReader()
{
    return std::make_unique<PlainReader>(GamePadDescriptor(), kGamePadReportLength);
}

void SendX(PlainReader& reader, uint8_t x)
{
    const uint8_t report[kGamePadReportLength] = {0, 1, x, 0};
    reader.Send(report, sizeof report);
}

} // namespace

std::vector<int64_t> MachineReportLatencies(int samples)
{
    auto reader = GamePadReader();
    std::vector<int64_t> latencies;
    for (int i = 0; i < samples; ++i)
    {
        while (reader->armed.load() == 0)
            std::this_thread::yield();
        reader->armed.store(0);
        SleepUntilNs(NowNs() + kParkDelayNs);
        reader->woke.store(0);
        int64_t sent = NowNs();
        SendX(*reader, static_cast<uint8_t>(i));
        int64_t w;
        while ((w = reader->woke.load()) == 0)
            std::this_thread::yield();
        latencies.push_back(w - sent);
    }
    return latencies;
}

LoadResult MachineLoad(int devices, int rate, double seconds)
{
    std::vector<std::unique_ptr<PlainReader>> readers;
    for (int i = 0; i < devices; ++i)
        readers.push_back(GamePadReader());
    int64_t period = 1000000000 / rate;
    int64_t cpu0 = ProcessCpuNs();
    int64_t start = NowNs();
    int64_t end = start + static_cast<int64_t>(seconds * 1e9);
    uint8_t x = 0;
    for (int64_t tick = start; tick < end; tick += period)
    {
        SleepUntilNs(tick);
        ++x;
        for (auto& r : readers)
            SendX(*r, x);
    }
    int64_t cpu1 = ProcessCpuNs();
    LoadResult result;
    for (auto& r : readers)
        result.deliveries += r->received.load();
    result.cpuNsPerDelivery = double(cpu1 - cpu0) / double(std::max<uint64_t>(result.deliveries, 1));
    return result;
}
