// What the hot-plug tests share: descriptions of devices whose installation is pending, the machine clock,
// and a library running with a recorder of its device events.
#pragma once

#include "DeviceTestSupport.h"

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

// A running library with the recorder as its notification handler.
class Library
{
public:
    explicit Library(KvNotificationRecorder& recorder)
    {
        KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
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
