// kvhidmon's command line as a user meets it: wrong arguments, unknown devices and a library that cannot
// start each give one clear line and a non-zero exit; list and caps give every device's fields.
#include <gtest/gtest.h>

#include "KvHidRaw.h"
#include "MonDemoScenario.h"
#include "MonitorRun.h"

#include <map>

using nlohmann::json;

namespace
{
void ExpectOneErrorLine(const MonitorRun& run, int status, const std::string& mentions)
{
    EXPECT_EQ(run.exitStatus, status);
    EXPECT_EQ(run.out, "");
    ASSERT_EQ(run.errLines.size(), 1u) << (run.errLines.empty() ? "" : run.errLines[1]);
    EXPECT_EQ(run.errLines[0].rfind("kvhidmon: ", 0), 0u) << run.errLines[0];
    EXPECT_NE(run.errLines[0].find(mentions), std::string::npos) << run.errLines[0];
}

std::map<uint32_t, json> ListById(const MonitorRun& run)
{
    std::map<uint32_t, json> devices;
    for (const json& line : run.JsonLines())
    {
        EXPECT_EQ(line.at("type"), "device");
        devices[line.at("id").get<uint32_t>()] = line;
    }
    return devices;
}
} // namespace

TEST(MonitorCliTest, WrongArgumentsGiveOneLineAndExitStatusTwo)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"list", "--bogus"}, "unknown option '--bogus'"},
        {{"list", "3"}, "list takes no identifier"},
        {{"caps"}, "exactly one"},
        {{"caps", "1", "2"}, "exactly one"},
        {{"caps", "12x"}, "'12x' is not a device identifier"},
        {{"caps", "0x1FFFFFFFF"}, "'0x1FFFFFFFF' is not a device identifier"},
        {{"watch", "0x"}, "'0x' is not a device identifier"},
        {{"watch", "--duration"}, "--duration needs a value"},
        {{"watch", "--duration", "-1"}, "positive number"},
        {{"watch", "--duration", "abc"}, "positive number"},
        {{"watch", "--duration", "0"}, "positive number"},
        {{"watch", "--duration", "inf"}, "positive number"},
        {{"list", "--seed", "x"}, "--seed needs a number"},
        {{"list", "--duration", "2"}, "--duration applies to watch only"},
    };
    for (const auto& [args, mentions] : cases)
    {
        SCOPED_TRACE(mentions);
        ExpectOneErrorLine(RunMonitor(args), 2, mentions);
    }
}

TEST(MonitorCliTest, HelpPrintsTheUsageAndSucceeds)
{
    const MonitorRun run = RunMonitor({"watch", "--help"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out.rfind("usage: kvhidmon", 0), 0u);
    EXPECT_TRUE(run.errLines.empty());
}

TEST(MonitorCliTest, AnUnknownIdentifierGivesOneLineAndExitStatusOne)
{
    // An empty position, a filtered identifier the service does not know, a watch list with one unknown.
    ExpectOneErrorLine(RunMonitor({"caps", "0x3F"}), 1, "no device with identifier 0x3F");
    ExpectOneErrorLine(RunMonitor({"caps", "--json", "0xFF0007"}), 1, "no device with identifier 0xFF0007");
    ExpectOneErrorLine(RunMonitor({"watch", "--json", "--duration", "1", "0", "200"}), 1,
                       "no device with identifier 0xC8");
    ExpectOneErrorLine(RunMonitor({"watch", "--json", "--duration", "1", "0", "0xFF0007"}), 1,
                       "no device with identifier 0xFF0007");
}

TEST(MonitorCliTest, ALibraryThatCannotStartGivesOneLineWithItsStatus)
{
    ExpectOneErrorLine(RunMonitor({"--demo-service-refuses", "list"}), 1, "did not start (status 1722)");
    ExpectOneErrorLine(RunMonitor({"--demo-service-refuses", "watch", "--json", "--duration", "1"}), 1,
                       "did not start (status 1722)");
}

TEST(MonitorCliTest, ListShowsEveryDeviceOfEverySourceWithItsFields)
{
    const MonitorRun run = RunMonitor({"list", "--json"});
    ASSERT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(run.errLines.empty());
    const std::map<uint32_t, json> devices = ListById(run);
    const std::map<uint32_t, std::pair<std::string, std::string>> expected = {
        {0, {"physical", CMonDemoScenario::kGamepadName}},
        {1, {"physical", CMonDemoScenario::kStickName}},
        {FILTERED_DEVICE_FLAG | CMonDemoScenario::kFilteredServiceId,
         {"filtered", CMonDemoScenario::kFilteredName}},
        {VIRTUAL_KEYBOARD_ID, {"virtual", "Virtual Keyboard"}},
        {VIRTUAL_MOUSE_ID, {"virtual", "Virtual Mouse"}},
    };
    ASSERT_EQ(devices.size(), expected.size());
    for (const auto& [id, sourceAndName] : expected)
    {
        SCOPED_TRACE(id);
        ASSERT_EQ(devices.count(id), 1u);
        const json& device = devices.at(id);
        EXPECT_EQ(device.at("source"), sourceAndName.first);
        EXPECT_EQ(device.at("name"), sourceAndName.second);
        for (const json& cap : device.at("caps"))
        {
            EXPECT_LE(cap.at("min").get<int64_t>(), cap.at("max").get<int64_t>());
            for (const char* field : {"usage", "page", "absolute", "index"})
                EXPECT_TRUE(cap.contains(field)) << field;
        }
    }
    // 32 buttons, the hat and four axes; 8 buttons, X, Y and a hat; the keyboard's 255 keys.
    EXPECT_EQ(devices.at(0).at("caps").size(), 37u);
    EXPECT_EQ(devices.at(FILTERED_DEVICE_FLAG).at("caps").size(), 11u);
    EXPECT_EQ(devices.at(VIRTUAL_KEYBOARD_ID).at("caps").size(), 255u);
}

TEST(MonitorCliTest, CapsGivesTheListsEntryForDecimalAndHexIdentifiers)
{
    const std::map<uint32_t, json> devices = ListById(RunMonitor({"list", "--json"}));
    for (const auto& [args, id] : std::vector<std::pair<std::vector<std::string>, uint32_t>>{
             {{"caps", "--json", "1"}, 1},
             {{"caps", "--json", "0x1"}, 1},
             {{"caps", "--json", "16711680"}, 0xFF0000},
             {{"caps", "--json", "0x101"}, 0x101}})
    {
        const MonitorRun run = RunMonitor(args);
        ASSERT_EQ(run.exitStatus, 0);
        const std::vector<json> lines = run.JsonLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], devices.at(id)) << args[2];
    }
}

TEST(MonitorCliTest, CapsAsTextShowsOneRowPerInput)
{
    const MonitorRun run = RunMonitor({"caps", "0"});
    ASSERT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find("Demo gamepad"), std::string::npos);
    EXPECT_NE(run.out.find(" 32  0x01  0x0039  Hat "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(" 36  0x01  0x0030  X "), std::string::npos) << run.out;
}
