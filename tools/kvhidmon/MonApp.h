// kvhidmon's commands over the device model: list, caps and watch, as text, as JSON lines or as the live
// view. Errors are one line on stderr and a non-zero exit status.
#pragma once

#include "MonDeviceModel.h"
#include "MonOptions.h"

#include <atomic>
#include <functional>
#include <iosfwd>
#include <string>

// What a simulated PC adds around a run: its banner, what it sets up before the library starts, and the
// scenario it plays while the monitor watches.
struct MonDemoHooks
{
    std::string banner;
    std::function<void()> beforeStart;
    std::function<void()> play;
    std::function<void()> stop;
};

class CMonApp
{
public:
    static constexpr int kExitFailure = 1;
    static constexpr int kExitUsage = 2;

    CMonApp(const CMonOptions& options, MonDemoHooks demo, std::ostream& out, std::ostream& err)
        : m_options(options), m_demo(std::move(demo)), m_out(out), m_err(err)
    {
    }

    int Run();
    // Asks a running watch to end (signal handlers, q).
    static void RequestStop() { s_stopRequested = true; }

private:
    int List();
    int Caps();
    int Watch();
    int WatchJson();
    int WatchView();
    // Watches the devices asked for (all when none); false after reporting an unknown identifier.
    bool WatchInitialDevices();
    // Brings the watched devices up to date with the library's events; calls report for each event.
    void HandleEvents(const std::function<void(const MonEvent&)>& report,
                      const std::function<void(uint32_t)>& watched);
    void RefreshFilteredDevices(const std::function<void(uint32_t)>& watched);
    bool Exists(uint32_t id) const;
    int Fail(const std::string& message, int status = kExitFailure);
    bool TimeIsUp() const;

    const CMonOptions& m_options;
    MonDemoHooks m_demo;
    std::ostream& m_out;
    std::ostream& m_err;
    CMonDeviceModel m_model;
    std::string m_statsLine;
    std::chrono::steady_clock::time_point m_end = std::chrono::steady_clock::time_point::max();
    static std::atomic<bool> s_stopRequested;
};
