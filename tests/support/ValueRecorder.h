// Records every delivery of a values callback: the values, the thread that made it and that thread's
// priority; a test may add work to run inside the callback.
#pragma once

#include <windows.h>

#include "KvHidRaw.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class ValueRecorder
{
public:
    struct Delivery
    {
        std::vector<_stHidValue> values;
        int priority;
        std::thread::id thread;
    };

    static void KVHR_CALL Callback(void* context, const _stHidValue* values, uint32_t count)
    {
        ValueRecorder* self = static_cast<ValueRecorder*>(context);
        if (self->inside)
            self->inside(values, count);
        Delivery delivery{std::vector<_stHidValue>(values, values + count),
                          GetThreadPriority(GetCurrentThread()), std::this_thread::get_id()};
        // Notified under the lock: a waiter that wakes may destroy the recorder once the lock is free.
        std::lock_guard<std::mutex> guard(self->m_mutex);
        self->m_deliveries.push_back(std::move(delivery));
        self->m_changed.notify_all();
    }

    std::vector<Delivery> Deliveries()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_deliveries;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_deliveries.size();
    }
    // Waits until at least count deliveries have come (10 s at most).
    bool WaitForCount(size_t count)
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        return m_changed.wait_for(guard, std::chrono::seconds(10),
                                  [&] { return m_deliveries.size() >= count; });
    }
    Delivery Last()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_deliveries.empty() ? Delivery{} : m_deliveries.back();
    }

    std::function<void(const _stHidValue*, uint32_t)> inside;

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Delivery> m_deliveries;
};
