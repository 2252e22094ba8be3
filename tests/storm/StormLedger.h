// The storm's notification handler: follows the physical table from the device events (a position must be
// free when added and taken when removed), gives each announced device a subscription that its removal
// closes, and counts the script-state events. It calls the library back from every event, as an application
// may.
#pragma once

#include "KvHidRaw.h"
#include "StormSubscriptions.h"

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

class StormLedger
{
public:
    explicit StormLedger(StormSubscriptions& subscriptions) : m_subscriptions(subscriptions) {}

    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        StormLedger* self = static_cast<StormLedger*>(context);
        if (event == NOTIF_SCRIPT_STATE)
            self->OnScriptState();
        else
            self->OnDeviceEvent(event, value);
    }

    // The subscription of the device the table holds at the position, or null.
    Subscription* Current(uint32_t pos)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return pos < 64 ? m_current[pos] : nullptr;
    }
    int Added()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_added;
    }
    int Removed()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_removed;
    }
    size_t PositionsUsed()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_used.size();
    }
    std::vector<std::string> Faults()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_faults;
    }
    uint64_t ScriptEvents() const { return m_scriptEvents; }
    uint64_t CallsFromEvents() const { return m_callsFromEvents; }

private:
    void OnScriptState()
    {
        ++m_scriptEvents;
        uint32_t* list = nullptr;
        uint32_t count = 0;
        if (KvHRFilterGetDevicesList(&list, &count) == 0)
            KvHRFree(list);
        uint8_t running = 0;
        KvHRFilterGetScriptRunning(&running);
        m_callsFromEvents += 2;
    }

    void OnDeviceEvent(uint32_t event, uint32_t pos)
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (pos >= 64)
            {
                m_faults.push_back("event for position " + std::to_string(pos));
                return;
            }
            if (event == NOTIF_DEVICE_ADDED)
                Add(pos);
            else if (event == NOTIF_DEVICE_REMOVED)
                Remove(pos);
        }
        if (event == NOTIF_DEVICE_ADDED)
        {
            KvHRWChar* name = nullptr;
            if (KvHRGetDeviceName(pos, &name) == 0)
                KvHRFree(name);
            ++m_callsFromEvents;
        }
    }

    void Add(uint32_t pos)
    {
        if (m_current[pos] != nullptr)
            m_faults.push_back("added twice at " + std::to_string(pos));
        m_current[pos] = &m_subscriptions.New(Source::Physical, pos);
        m_used.insert(pos);
        ++m_added;
    }

    void Remove(uint32_t pos)
    {
        if (m_current[pos] == nullptr)
        {
            m_faults.push_back("removed without an addition at " + std::to_string(pos));
            return;
        }
        m_current[pos]->Close();
        m_current[pos] = nullptr;
        ++m_removed;
    }

    StormSubscriptions& m_subscriptions;
    std::mutex m_mutex;
    Subscription* m_current[64] = {};
    std::set<uint32_t> m_used;
    int m_added = 0;
    int m_removed = 0;
    std::vector<std::string> m_faults;
    std::atomic<uint64_t> m_scriptEvents{0};
    std::atomic<uint64_t> m_callsFromEvents{0};
};
