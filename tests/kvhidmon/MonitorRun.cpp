#include "MonitorRun.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace
{
std::string Quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
} // namespace

std::vector<nlohmann::json> MonitorRun::JsonLines() const
{
    std::vector<nlohmann::json> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);)
    {
        const nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        EXPECT_FALSE(parsed.is_discarded()) << "not JSON: " << line;
        if (!parsed.is_discarded())
            lines.push_back(parsed);
    }
    return lines;
}

MonitorRun RunMonitor(const std::vector<std::string>& args)
{
    char errPath[] = "/tmp/kvhidmon-test-err.XXXXXX";
    const int errFile = mkstemp(errPath);
    EXPECT_NE(errFile, -1);
    close(errFile);
    std::string command = "timeout -s KILL 60 " + Quote(KVHIDMON_PATH);
    for (const std::string& arg : args)
        command += " " + Quote(arg);
    command += " 2>" + Quote(errPath) + " </dev/null";

    MonitorRun run;
    FILE* pipe = popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
        run.out.append(buffer, n);
    const int status = pclose(pipe);
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    std::ifstream err(errPath);
    for (std::string line; std::getline(err, line);)
        run.errLines.push_back(line);
    std::remove(errPath);
    return run;
}
