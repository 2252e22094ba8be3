#include "SequencedStream.h"

#include "AllocationCount.h"
#include "BenchClock.h"

SequencedStream::SequencedStream(size_t capacity)
    : sentAt_(kMaxDevices * kRing), next_(kMaxDevices), expected_(kMaxDevices),
      receiverAllocations_(kMaxDevices), samples_(capacity)
{
    for (auto& e : expected_)
        e.store(-1);
}

void SequencedStream::NextReport(int device, uint8_t* report)
{
    const uint16_t number = next_[device]++;
    report[0] = 0;
    report[1] = static_cast<uint8_t>(device);
    report[2] = static_cast<uint8_t>(number & 0xFF);
    report[3] = static_cast<uint8_t>(number >> 8);
    ++sent_;
    sentAt_[device * kRing + number % kRing] = NowNs();
}

uint64_t SequencedStream::ReceiverAllocations() const
{
    uint64_t sum = 0;
    for (const auto& a : receiverAllocations_)
        sum += a.load();
    return sum;
}

std::vector<int64_t> SequencedStream::Latencies() const
{
    const size_t n = std::min(sampleCount_.load(), samples_.size());
    return std::vector<int64_t>(samples_.begin(), samples_.begin() + static_cast<ptrdiff_t>(n));
}

void SequencedStream::Arrived(int device, uint16_t number, int64_t at)
{
    if (device < 0 || device >= kMaxDevices)
    {
        ++outOfSequence_;
        return;
    }
    const int expected = expected_[device].exchange((number + 1) & 0xFFFF);
    if (expected >= 0 && expected != number)
        ++outOfSequence_;
    const size_t slot = sampleCount_++;
    if (slot < samples_.size())
        samples_[slot] = at - sentAt_[device * kRing + number % kRing];
    receiverAllocations_[device].store(ThreadAllocationCount());
    ++arrivals_;
}

// Buttons 1-8 hold the device index, X and Y the number; found by usage, as the records' order is the
// parser's.
void KVHR_CALL SequencedStream::LibraryArrival(void* context, const _stHidValue* values, uint32_t count)
{
    int device = 0;
    unsigned number = 0;
    for (uint32_t i = 0; i < count; ++i)
    {
        const _stHidValue& v = values[i];
        if (v.usagePage == 9 && v.usage >= 1 && v.usage <= 8)
            device |= (v.value != 0) << (v.usage - 1);
        else if (v.usagePage == 1 && v.usage == 0x30)
            number |= v.value & 0xFF;
        else if (v.usagePage == 1 && v.usage == 0x31)
            number |= (v.value & 0xFF) << 8;
    }
    static_cast<SequencedStream*>(context)->Arrived(device, static_cast<uint16_t>(number), NowNs());
}

void SequencedStream::PlainArrival(void* context, const unsigned char* report, int64_t completedNs)
{
    const uint16_t number = static_cast<uint16_t>(report[2] | report[3] << 8);
    static_cast<SequencedStream*>(context)->Arrived(report[1], number, completedNs);
}
