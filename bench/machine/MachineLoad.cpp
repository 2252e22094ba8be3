#include "MachineLoad.h"

#include <windows.h>

#include "TestDescriptors.h"
#include "machine/Machine.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

using winport::machine::Machine;

namespace
{

constexpr DWORD kReportLength = 4; // GamePadDescriptor's input report

// One plugged game pad and a reader thread looping on overlapped reads, as the library's do.
class Reader
{
public:
    Reader()
    {
        winport::machine::HidDeviceDescription description;
        description.reportDescriptor = GamePadDescriptor();
        device = Machine::Instance().PlugDevice(description);
        std::u16string path = Machine::Instance().InterfacePaths(device).at(0);
        file_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        thread_ = std::thread([this] { Run(); });
    }

    ~Reader()
    {
        stop_.store(true);
        CloseHandle(file_); // completes the pending read
        thread_.join();
        CloseHandle(event_);
        Machine::Instance().UnplugDevice(device, winport::machine::Removal::Surprise);
    }

    void Send(uint8_t x)
    {
        uint8_t report[kReportLength] = {0, 1, x, 0};
        Machine::Instance().SendInputReport(device, report, sizeof report);
    }

    uint32_t device = 0;
    std::atomic<uint64_t> received{0};
    std::atomic<int> armed{0};
    std::atomic<int64_t> woke{0};

private:
    void Run()
    {
        BYTE buffer[kReportLength];
        while (!stop_.load())
        {
            OVERLAPPED overlapped{};
            overlapped.hEvent = event_;
            if (!ReadFile(file_, buffer, kReportLength, nullptr, &overlapped))
            {
                if (GetLastError() != ERROR_IO_PENDING)
                    return;
                armed.store(1);
                WaitForSingleObject(event_, INFINITE);
                woke.store(NowNs());
                DWORD bytes = 0;
                if (!GetOverlappedResult(file_, &overlapped, &bytes, FALSE))
                    return;
            }
            received.fetch_add(1);
        }
    }

    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace

std::vector<int64_t> MachineReportLatencies(int samples)
{
    Reader reader;
    std::vector<int64_t> latencies;
    for (int i = 0; i < samples; ++i)
    {
        while (reader.armed.load() == 0)
            std::this_thread::yield();
        reader.armed.store(0);
        SleepUntilNs(NowNs() + kParkDelayNs);
        reader.woke.store(0);
        int64_t sent = NowNs();
        reader.Send(static_cast<uint8_t>(i));
        int64_t w;
        while ((w = reader.woke.load()) == 0)
            std::this_thread::yield();
        latencies.push_back(w - sent);
    }
    return latencies;
}

LoadResult MachineLoad(int devices, int rate, double seconds)
{
    std::vector<std::unique_ptr<Reader>> readers;
    for (int i = 0; i < devices; ++i)
        readers.push_back(std::make_unique<Reader>());
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
            r->Send(x);
    }
    int64_t cpu1 = ProcessCpuNs();
    LoadResult result;
    for (auto& r : readers)
        result.deliveries += r->received.load();
    result.cpuNsPerDelivery = double(cpu1 - cpu0) / double(std::max<uint64_t>(result.deliveries, 1));
    return result;
}
