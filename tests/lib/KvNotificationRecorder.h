// Records the events the library sends to its notification handler.
#pragma once

#include "KvHidRaw.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class KvNotificationRecorder
{
public:
    struct Event
    {
        uint32_t event;
        uint32_t value;
        std::thread::id thread;
    };

    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        KvNotificationRecorder* self = static_cast<KvNotificationRecorder*>(context);
        {
            std::lock_guard<std::mutex> guard(self->m_mutex);
            self->m_events.push_back({event, value, std::this_thread::get_id()});
        }
        self->m_changed.notify_all();
    }

    std::vector<Event> Events()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_events;
    }

    // Waits until at least count events have come (10 s at most).
    bool WaitForCount(size_t count)
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_changed.wait_for(guard, std::chrono::seconds(10), [&] { return m_events.size() >= count; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
};
