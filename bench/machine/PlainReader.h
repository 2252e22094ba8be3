// A plugged device read by a plain thread looping on overlapped reads, as the library's read threads do:
// the machine's own report delivery, without the library.
#pragma once

#include <windows.h>

#include "BenchClock.h"

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

// A game pad: buttons 1-8 (one byte), then X and Y (a byte each); no report ID. Report: {0, buttons, x, y}.
const std::vector<uint8_t>& GamePadDescriptor();
constexpr DWORD kGamePadReportLength = 4;

class PlainReader
{
public:
    // Called on the reader thread after each completed read with the report and the time its wait returned
    // (or the read completed at once, from the device's queue).
    using ReportHook = void (*)(void* context, const BYTE* report, int64_t completedNs);

    PlainReader(const std::vector<uint8_t>& descriptor, DWORD reportLength, ReportHook hook = nullptr,
                void* context = nullptr);
    ~PlainReader();
    PlainReader(const PlainReader&) = delete;
    PlainReader& operator=(const PlainReader&) = delete;

    void Send(const uint8_t* report, size_t size);

    uint32_t device = 0;
    std::atomic<uint64_t> received{0};
    std::atomic<int> armed{0};    // set each time the reader is about to wait
    std::atomic<int64_t> woke{0}; // when the reader's last wait returned

private:
    void Run();

    DWORD reportLength_;
    ReportHook hook_;
    void* context_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    HANDLE event_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
