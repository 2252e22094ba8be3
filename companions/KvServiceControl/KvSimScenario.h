// The state a simulated service starts in when the process gives it one: the environment variable
// KVSC_SCENARIO, read at the process's first connection (KvSCInitializeStatus). It lets a program that
// cannot reach the control header (kvhidmon.exe under Wine, any separate process) see filtered devices.
//
// The text is a list of items separated by ';' (blanks around items and fields are ignored):
//   script=on | script=off                       whether a script runs (off when not given)
//   device=<id>,<name>,<buttons>,<axes>,<hats>   one filtered device: its service number (0-65535, each
//                                                once), a name of printable ASCII without ',' or ';'
//                                                (empty: the device has no name), and its input counts:
//                                                buttons 0-255, axes 0-11 (range 0-1023), hats 0-8
//                                                (range 0-7); at most 16 devices
// Example: "script=on; device=1,Arcade Stick,12,2,1; device=2,Pedals,0,3,0".
// Text that does not follow this is refused as a whole with a one-line reason, and the service starts empty.
#pragma once

#include "KvServiceControl.h"

#include <string>
#include <vector>

class KvSimScenario
{
public:
    static constexpr const char* kVariable = "KVSC_SCENARIO";
    static constexpr size_t kMaxDevices = 16;

    struct Device
    {
        DWORD id;
        std::basic_string<WCHAR> name;
        _stHidPhysicalInputData caps;
    };

    bool scriptRunning = false;
    std::vector<Device> devices;

    // Parses the text into scenario; on failure returns false, leaves scenario empty and names the fault.
    static bool Parse(const std::string& text, KvSimScenario& scenario, std::string& error);

private:
    bool ParseItem(const std::string& item, std::string& error);
    bool ParseDevice(const std::string& fields, std::string& error);
};
