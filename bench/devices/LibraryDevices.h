// Devices plugged on the machine and polled by the library through its exports: the library opens them on
// an update of its device list and calls the given values callback on each device's read thread.
#pragma once

#include "KvHidRaw.h"

#include <cstdint>
#include <set>
#include <sys/types.h>
#include <vector>

class LibraryDevices
{
public:
    // Plugs count devices with the descriptor, lets the library open them and polls each into callback.
    LibraryDevices(const std::vector<uint8_t>& descriptor, int count, ReadDeviceValuesCallback callback,
                   void* context);
    // Stops polling, unplugs the devices and lets the library drop them.
    ~LibraryDevices();
    LibraryDevices(const LibraryDevices&) = delete;
    LibraryDevices& operator=(const LibraryDevices&) = delete;

    void Send(int device, const uint8_t* report, size_t size);
    int Count() const { return static_cast<int>(machineIds_.size()); }
    // Whether the library opened and polls every device.
    bool Polled() const { return polled_; }
    // The devices' read threads (kernel ids).
    const std::set<pid_t>& ReaderThreads() const { return readers_; }
    // Reports the machine dropped from the library's queues.
    uint64_t Dropped() const;

private:
    std::vector<uint32_t> machineIds_;
    std::vector<uint32_t> positions_;
    std::set<pid_t> readers_;
    bool polled_ = false;
};
