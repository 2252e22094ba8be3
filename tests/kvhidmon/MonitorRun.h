// Runs the kvhidmon program as a user would and keeps what it printed and its exit status.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

struct MonitorRun
{
    int exitStatus = -1;
    std::string out;
    std::vector<std::string> errLines;

    // Each line of the output parsed as JSON; a line that is not JSON fails the calling test.
    std::vector<nlohmann::json> JsonLines() const;
};

// Runs kvhidmon with the arguments (each quoted for the shell); a run that has not ended after 60 s is
// killed, which shows as a non-zero status.
MonitorRun RunMonitor(const std::vector<std::string>& args);
