// Records the events the library sends to its notification handler, with the thread that sent each and when
// it came, on the machine clock and in real time.
#pragma once

#include <windows.h>

#include "KvHidRaw.h"
#include "WaitUntil.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class KvNotificationRecorder
{
public:
    // Which events the recorder keeps: every one, or the device events only (no script-state events).
    enum class Keep
    {
        AllEvents,
        DeviceEvents
    };

    struct Event
    {
        uint32_t event;
        uint32_t value;
        std::thread::id thread;
        DWORD tick;
        std::chrono::steady_clock::time_point when;
    };

    explicit KvNotificationRecorder(Keep keep = Keep::AllEvents) : m_keep(keep) {}

    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        KvNotificationRecorder* self = static_cast<KvNotificationRecorder*>(context);
        if (self->m_keep == Keep::DeviceEvents && event == NOTIF_SCRIPT_STATE)
            return;
        const Event heard{event, value, std::this_thread::get_id(), GetTickCount(),
                          std::chrono::steady_clock::now()};
        // Notified under the lock: a waiter that wakes may destroy the recorder once the lock is free.
        std::lock_guard<std::mutex> guard(self->m_mutex);
        self->m_events.push_back(heard);
        self->m_changed.notify_all();
    }

    std::vector<Event> Events()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_events;
    }

    // The values (device positions) of the events of one kind, in order.
    std::vector<uint32_t> Positions(uint32_t event)
    {
        std::vector<uint32_t> positions;
        for (const Event& e : Events())
            if (e.event == event)
                positions.push_back(e.value);
        return positions;
    }
    size_t Count(uint32_t event) { return Positions(event).size(); }

    // Waits until at least count events have come (10 s at most).
    bool WaitForCount(size_t count)
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_changed.wait_for(guard, std::chrono::seconds(10), [&] { return m_events.size() >= count; });
    }

    // Waits until at least count events of one kind have come (20 s at most: hot-plug take-ins queue up).
    bool WaitForCount(uint32_t event, size_t count)
    {
        return WaitUntil([&] { return Count(event) >= count; }, std::chrono::seconds(20));
    }

private:
    const Keep m_keep;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
};
