// The command line of kvhidmon: a command (list, caps ID, watch [ID...]) and its options.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class MonCommand
{
    Help,
    List,
    Caps,
    Watch
};

class CMonOptions
{
public:
    // Parses the arguments after the program name. On a wrong argument returns nothing and sets error to
    // one line that says what is wrong.
    static std::optional<CMonOptions> Parse(const std::vector<std::string>& args, std::string& error);
    static const char* Usage();

    MonCommand command = MonCommand::Help;
    std::vector<uint32_t> ids; // caps: exactly one; watch: none means every device
    bool json = false;
    std::optional<double> durationSeconds;
    bool demo = false;
    uint32_t seed = 1;
    // The demo's simulated filtering service refuses the connection: the library cannot start.
    bool demoServiceRefuses = false;
    // Load for measurements: this many more gamepads in the demo, each sending 1000 reports a second.
    uint32_t demoLoad = 0;
    // At the end, the redraws and the CPU time of the monitor's own thread, on stderr.
    bool stats = false;

private:
    bool m_helpAsked = false;

    bool ParseOption(const std::vector<std::string>& args, size_t& i, std::string& error);
};

// A device identifier in decimal or 0x hex; nothing when the text is not one.
std::optional<uint32_t> ParseDeviceId(const std::string& text);
