// What kvhidmon knows of the devices, all of it learnt through the library's exports: which devices exist,
// their names and capabilities, the latest value of every input, how many reports they deliver, and the
// library's events. The library's threads write values and events; the monitor's main thread reads
// snapshots and makes every export call (a callback only records, so no export runs inside one).
#pragma once

#include "KvHidRaw.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

enum class MonSource
{
    Physical,
    Filtered,
    Virtual
};

const char* SourceName(MonSource source);
MonSource SourceOf(uint32_t id);
std::string ToUtf8(const KvHRWChar* text);

struct MonDevice
{
    uint32_t id = 0;
    MonSource source = MonSource::Physical;
    std::string name;
    uint32_t nameStatus = 0;
    std::vector<_stHidCapability> caps;
    // The latest value of every input: those of the capabilities first, in their order, then any input
    // a delivery carries beyond them. Inputs not delivered yet read 0.
    std::vector<_stHidValue> values;
    uint64_t reports = 0;
    double reportsPerSecond = 0;
};

struct MonEvent
{
    uint32_t event = 0;
    uint32_t value = 0;
};

// One delivery as the values callback received it.
struct MonDelivery
{
    uint32_t id = 0;
    std::vector<_stHidValue> values;
};

class CMonDeviceModel
{
public:
    CMonDeviceModel() = default;
    CMonDeviceModel(const CMonDeviceModel&) = delete;
    CMonDeviceModel& operator=(const CMonDeviceModel&) = delete;

    // Registers the notification handler and starts the library; the library's status.
    uint32_t Start();
    // Switches every polled device off, silences the callbacks and stops the library. Idempotent.
    void Stop();

    // The devices of the three sources now present: physical positions, filtered, virtual.
    static std::vector<uint32_t> ListIds();
    // Asks the library for the device's name and capabilities; its status (1168 for an unknown device).
    static uint32_t Describe(uint32_t id, MonDevice& device);

    // Describes the device, registers the values callback and switches polling on. Returns the status
    // of the description.
    uint32_t Watch(uint32_t id);
    // Forgets a device that left; polling is switched off when it is still known to the library.
    void Forget(uint32_t id);
    bool IsWatched(uint32_t id) const;

    // Keeps each delivery until TakeDeliveries (for the JSON output).
    void KeepDeliveries(bool keep) { m_keepDeliveries = keep; }
    std::vector<MonDelivery> TakeDeliveries();
    std::vector<MonEvent> TakeEvents();
    // Waits until an event or (when kept) a delivery arrives, or the time passes.
    void WaitForNews(std::chrono::milliseconds timeout);

    // The watched devices in identifier order, with their rates brought up to date.
    std::vector<MonDevice> Snapshot();
    // Increments on every delivery: a view redraws only when it changed.
    uint64_t Generation() const { return m_generation.load(); }

private:
    struct Slot
    {
        MonDevice device;
        std::unordered_map<uint64_t, size_t> positions; // (page, usage, index) -> values position
        uint64_t reportsAtLastRate = 0;
        std::chrono::steady_clock::time_point lastRate = std::chrono::steady_clock::now();
    };

    struct CallbackContext
    {
        CMonDeviceModel* model;
        uint32_t id;
    };

    static void KVHR_CALL OnNotification(uint32_t event, uint32_t value, void* context);
    static void KVHR_CALL OnValues(void* context, const _stHidValue* values, uint32_t count);
    void Record(uint32_t id, const _stHidValue* values, uint32_t count);

    mutable std::mutex m_lock;
    std::condition_variable m_news;
    std::map<uint32_t, Slot> m_slots;
    // Kept until the model goes: a delivery already under way may still carry one.
    std::map<uint32_t, std::unique_ptr<CallbackContext>> m_contexts;
    std::vector<MonEvent> m_events;
    std::vector<MonDelivery> m_deliveries;
    std::atomic<bool> m_keepDeliveries{false};
    std::atomic<uint64_t> m_generation{0};
    // Callbacks under way: Stop waits for them, so none runs on a model being destroyed.
    std::atomic<int> m_inCallback{0};
    std::atomic<bool> m_stopped{false};
    bool m_started = false;
};
