#include "PlainReader.h"

#include "machine/Machine.h"

#include <string>

using winport::machine::Machine;

const std::vector<uint8_t>& GamePadDescriptor()
{
    static const std::vector<uint8_t> descriptor = {
        0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x15, 0x00,
        0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31,
        0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0};
    return descriptor;
}

PlainReader::PlainReader(const std::vector<uint8_t>& descriptor, DWORD reportLength, ReportHook hook,
                         void* context)
    : reportLength_(reportLength), hook_(hook), context_(context)
{
    winport::machine::HidDeviceDescription description;
    description.reportDescriptor = descriptor;
    device = Machine::Instance().PlugDevice(description);
    std::u16string path = Machine::Instance().InterfacePaths(device).at(0);
    file_ = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    thread_ = std::thread([this] { Run(); });
}

PlainReader::~PlainReader()
{
    stop_.store(true);
    CloseHandle(file_); // completes the pending read
    thread_.join();
    CloseHandle(event_);
    Machine::Instance().UnplugDevice(device, winport::machine::Removal::Surprise);
}

void PlainReader::Send(const uint8_t* report, size_t size)
{
    Machine::Instance().SendInputReport(device, report, size);
}

void PlainReader::Run()
{
    std::vector<BYTE> buffer(reportLength_);
    while (!stop_.load())
    {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event_;
        int64_t completed = 0;
        if (ReadFile(file_, buffer.data(), reportLength_, nullptr, &overlapped))
        {
            completed = hook_ != nullptr ? NowNs() : 0; // bench_machine's loop stays as it was
        }
        else
        {
            if (GetLastError() != ERROR_IO_PENDING)
                return;
            armed.store(1);
            WaitForSingleObject(event_, INFINITE);
            completed = NowNs();
            woke.store(completed);
            DWORD bytes = 0;
            if (!GetOverlappedResult(file_, &overlapped, &bytes, FALSE))
                return;
        }
        received.fetch_add(1);
        if (hook_ != nullptr)
            hook_(context_, buffer.data(), completed);
    }
}
