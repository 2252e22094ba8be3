// What the hot-plug tests share: descriptions of devices whose installation is pending, and a recorder of
// device events that notes when each came, on the machine clock and in real time.
#pragma once

#include "DeviceTestSupport.h"

#include <chrono>

namespace hotplug
{
using namespace devtest;
using winport::machine::Removal;

inline HidDeviceDescription Installing(HidDeviceDescription description)
{
    description.installPending = true;
    return description;
}

inline uint32_t TickCount()
{
    return Machine::Instance().GetClock().TickCount();
}

// Device events with their times (the script state's events are left out).
class TimedRecorder
{
public:
    struct Event
    {
        uint32_t event;
        uint32_t value;
        uint32_t tick;
        std::chrono::steady_clock::time_point when;
    };

    static void KVHR_CALL Handler(uint32_t event, uint32_t value, void* context)
    {
        if (event == NOTIF_SCRIPT_STATE)
            return;
        TimedRecorder* self = static_cast<TimedRecorder*>(context);
        std::lock_guard<std::mutex> guard(self->m_mutex);
        self->m_events.push_back({event, value, TickCount(), std::chrono::steady_clock::now()});
    }

    std::vector<Event> Events()
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_events;
    }
    std::vector<uint32_t> Positions(uint32_t event)
    {
        std::vector<uint32_t> positions;
        for (const Event& e : Events())
            if (e.event == event)
                positions.push_back(e.value);
        return positions;
    }
    size_t Count(uint32_t event) { return Positions(event).size(); }
    bool WaitForCount(uint32_t event, size_t count)
    {
        return WaitUntil([&] { return Count(event) >= count; }, std::chrono::seconds(20));
    }

private:
    std::mutex m_mutex;
    std::vector<Event> m_events;
};

// A running library with the recorder as its notification handler.
class Library
{
public:
    explicit Library(TimedRecorder& recorder)
    {
        KvHRSetNotificationHandler(&TimedRecorder::Handler, &recorder);
        EXPECT_EQ(KvHRInitialize(), 0u);
    }
    ~Library() { KvHRUnInitialize(); }
};

// The failed checks of the log, but for the one every restart reports: the interface class is registered
// again with its GUID still set.
inline std::string FailedChecksBesidesRestart(LogCapture& log)
{
    std::string lines;
    for (const WString& line : log.Lines())
        if ((line.find(u"ASSERT(") != WString::npos || line.find(u"gave up waiting") != WString::npos) &&
            line.find(u"m_notificationsGuid == GUID_NULL") == WString::npos)
            lines += Narrow(line) + "\n";
    return lines;
}

} // namespace hotplug
