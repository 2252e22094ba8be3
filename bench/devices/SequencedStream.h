// Numbered game-pad reports sent to up to 16 devices and their arrivals, on the library's side or the plain
// readers'. A report is {0, device index, number low, number high}: the buttons carry the device index, X and
// Y the number, so an arrival names its send without any look-up in the library.
#pragma once

#include "KvHidRaw.h"

#include <atomic>
#include <cstdint>
#include <vector>

class SequencedStream
{
public:
    static constexpr int kMaxDevices = 16;

    // Room for capacity latency samples; arrivals beyond it are counted but not timed.
    explicit SequencedStream(size_t capacity);

    // Stamps and builds the next report of a device (kGamePadReportLength bytes).
    void NextReport(int device, uint8_t* report);
    // Reports arrived and sent so far.
    uint64_t Arrivals() const { return arrivals_.load(); }
    uint64_t Sent() const { return sent_; }
    // Arrivals whose number was not the one after the device's previous arrival (a loss or a repeat).
    uint64_t OutOfSequence() const { return outOfSequence_.load(); }
    // The allocations the devices' receiving threads made so far, as of their last arrivals.
    uint64_t ReceiverAllocations() const;
    // Send-to-arrival times so far, in ns.
    std::vector<int64_t> Latencies() const;

    // The values callback of the library's devices and the plain readers' hook: both note the arrival at
    // their end.
    static void KVHR_CALL LibraryArrival(void* context, const _stHidValue* values, uint32_t count);
    static void PlainArrival(void* context, const unsigned char* report, int64_t completedNs);

private:
    static constexpr int kRing = 1024;

    void Arrived(int device, uint16_t number, int64_t at);

    std::vector<int64_t> sentAt_;            // kMaxDevices x kRing send times
    std::vector<uint16_t> next_;             // the next number per device, sender side
    std::vector<std::atomic<int>> expected_; // the next number per device, arrival side; -1 before the first
    std::vector<std::atomic<uint64_t>> receiverAllocations_; // per device
    std::vector<int64_t> samples_;
    std::atomic<size_t> sampleCount_{0};
    std::atomic<uint64_t> arrivals_{0};
    std::atomic<uint64_t> outOfSequence_{0};
    uint64_t sent_ = 0;
};
