// `kvhidmon --demo --seed S --json watch --duration 5` against the scenario: source by source, the values,
// arrivals, removals and script changes it prints are the ones the scenario sent, in order, none lost.
#include <gtest/gtest.h>

#include "KvHidRaw.h"
#include "MonDemoScenario.h"
#include "MonitorRun.h"

#include <algorithm>
#include <map>
#include <tuple>

using nlohmann::json;

namespace
{
constexpr uint32_t kSeed = 7;

struct DemoRun
{
    std::map<std::string, uint32_t> idByName;
    std::map<uint32_t, int> deviceLines;              // how often each device was described
    std::map<uint32_t, std::vector<json>> deliveries; // the "values" arrays, by device
    std::vector<std::pair<std::string, uint32_t>> events;
};

DemoRun Watch()
{
    const MonitorRun run =
        RunMonitor({"--demo", "--seed", std::to_string(kSeed), "--json", "watch", "--duration", "5"});
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(run.errLines.empty()) << run.errLines[0];
    DemoRun demo;
    for (const json& line : run.JsonLines())
    {
        const std::string type = line.at("type");
        if (type == "device")
        {
            demo.idByName[line.at("name")] = line.at("id");
            ++demo.deviceLines[line.at("id")];
        }
        else if (type == "values")
            demo.deliveries[line.at("id")].push_back(line.at("values"));
        else if (type == "event")
            demo.events.emplace_back(line.at("event"), line.at("value"));
    }
    return demo;
}

// The raw value of the input (page, usage, index) in one delivery; -1 when it is missing.
int64_t Raw(const json& values, uint16_t page, uint16_t usage, uint32_t index = 0)
{
    for (const json& value : values)
        if (value.at("page") == page && value.at("usage") == usage && value.at("index") == index)
            return value.at("value");
    return -1;
}

uint32_t Buttons(const json& values)
{
    uint32_t mask = 0;
    for (const json& value : values)
        if (value.at("page") == 9 && value.at("value") != 0)
            mask |= 1u << (value.at("usage").get<int>() - 1);
    return mask;
}

// Every delivery of a device that reports at each tick matches the tick's state, from tick 0 on.
template <typename Expected, typename Decode>
void ExpectEveryTick(const std::vector<json>& deliveries, Expected expected, Decode decode, size_t atLeast)
{
    EXPECT_GE(deliveries.size(), atLeast);
    for (size_t tick = 0; tick < deliveries.size(); ++tick)
        ASSERT_EQ(decode(deliveries[tick]), expected(static_cast<int>(tick))) << "tick " << tick;
}

using FilteredSeen = std::tuple<uint32_t, int64_t, int64_t, int64_t>; // buttons down, X, Y, hat

FilteredSeen DecodeFiltered(const json& values)
{
    uint32_t buttons = 0;
    for (uint16_t b = 0; b < 8; ++b)
        if (Raw(values, 9, static_cast<uint16_t>(b + 1)) == 0x80)
            buttons |= 1u << b;
    return {buttons, Raw(values, 1, 0x30), Raw(values, 1, 0x31), Raw(values, 1, 0x39)};
}

FilteredSeen SentFiltered(int tick)
{
    const std::optional<DemoFiltered> input = CMonDemoScenario::Filtered(kSeed, tick);
    uint32_t buttons = 0;
    for (uint16_t b = 0; b < 8; ++b)
        if (input->buttons[b] != 0)
            buttons |= 1u << b;
    return {buttons, int64_t{input->x}, int64_t{input->y}, int64_t{input->hat}};
}

const DemoRun& Demo()
{
    static const DemoRun run = Watch();
    return run;
}
} // namespace

TEST(MonitorDemoTest, TheGamepadShowsEveryReportTheScenarioSent)
{
    const auto state = [](int tick)
    {
        const DemoGamepad s = CMonDemoScenario::Gamepad(kSeed, tick);
        return std::make_tuple(int64_t{s.x}, int64_t{s.y}, int64_t{s.z}, int64_t{s.rz}, int64_t{s.hat},
                               s.buttons);
    };
    const auto decode = [](const json& v)
    {
        return std::make_tuple(Raw(v, 1, 0x30), Raw(v, 1, 0x31), Raw(v, 1, 0x32), Raw(v, 1, 0x35),
                               Raw(v, 1, 0x39), Buttons(v));
    };
    ASSERT_EQ(Demo().idByName.count(CMonDemoScenario::kGamepadName), 1u);
    ExpectEveryTick(Demo().deliveries.at(Demo().idByName.at(CMonDemoScenario::kGamepadName)), state, decode,
                    100);
}

TEST(MonitorDemoTest, TheFlightStickShowsEveryReportTheScenarioSent)
{
    const auto state = [](int tick)
    {
        const DemoStick s = CMonDemoScenario::Stick(kSeed, tick);
        return std::make_tuple(int64_t{s.x}, int64_t{s.y}, int64_t{s.rz}, int64_t{s.slider}, int64_t{s.hat},
                               uint32_t{s.buttons});
    };
    const auto decode = [](const json& v)
    {
        return std::make_tuple(Raw(v, 1, 0x30), Raw(v, 1, 0x31), Raw(v, 1, 0x35), Raw(v, 1, 0x36),
                               Raw(v, 1, 0x39), Buttons(v));
    };
    ASSERT_EQ(Demo().idByName.count(CMonDemoScenario::kStickName), 1u);
    ExpectEveryTick(Demo().deliveries.at(Demo().idByName.at(CMonDemoScenario::kStickName)), state, decode,
                    100);
}

TEST(MonitorDemoTest, TheVirtualKeyboardShowsTheKeysTyped)
{
    std::vector<std::pair<int64_t, int64_t>> expected;
    for (int tick = 0; expected.size() < 200; ++tick)
        if (const std::optional<DemoKey> key = CMonDemoScenario::Key(tick))
            expected.emplace_back(key->key, key->down ? 1 : 0);
    const std::vector<json>& deliveries = Demo().deliveries.at(VIRTUAL_KEYBOARD_ID);
    // 5 s of a key event every 100 ms, polled every 120 ms: most of them are in.
    ASSERT_GE(deliveries.size(), 20u);
    for (size_t i = 0; i < deliveries.size(); ++i)
    {
        ASSERT_EQ(deliveries[i].size(), 1u);
        EXPECT_EQ(std::make_pair(deliveries[i][0].at("usage").get<int64_t>(),
                                 deliveries[i][0].at("value").get<int64_t>()),
                  expected[i])
            << "event " << i;
    }
}

TEST(MonitorDemoTest, TheVirtualMouseShowsEveryMovement)
{
    std::vector<std::pair<int64_t, int64_t>> expected; // (usage, movement)
    for (int tick = 0; expected.size() < 1000; ++tick)
        if (const std::optional<DemoMouse> move = CMonDemoScenario::Mouse(kSeed, tick))
        {
            expected.emplace_back(0x30, move->dx);
            expected.emplace_back(0x31, move->dy);
        }
    const std::vector<json>& deliveries = Demo().deliveries.at(VIRTUAL_MOUSE_ID);
    ASSERT_GE(deliveries.size(), 100u);
    for (size_t i = 0; i < deliveries.size(); ++i)
    {
        ASSERT_EQ(deliveries[i].size(), 1u);
        EXPECT_EQ(std::make_pair(deliveries[i][0].at("usage").get<int64_t>(),
                                 deliveries[i][0].at("scaled").get<int64_t>()),
                  expected[i])
            << "event " << i;
    }
}

TEST(MonitorDemoTest, TheFilteredDeviceShowsTheInputOfTheScriptsRunsInOrder)
{
    const std::vector<json>& deliveries =
        Demo().deliveries.at(FILTERED_DEVICE_FLAG | CMonDemoScenario::kFilteredServiceId);
    ASSERT_GE(deliveries.size(), 40u);
    // While the first run lasts the monitor polls from the start: every input arrives. Input pushed while a
    // restarted script is announced may come before the monitor polls again, so later ones are checked in
    // order, not one by one.
    int tick = -1;
    for (size_t i = 0; i < deliveries.size(); ++i)
    {
        const FilteredSeen seen = DecodeFiltered(deliveries[i]);
        do
        {
            ++tick;
        } while (tick < 5000 && !(CMonDemoScenario::Filtered(kSeed, tick) && SentFiltered(tick) == seen));
        ASSERT_LT(tick, 5000) << "delivery " << i << " is nothing the scenario sent after the one before";
        if (tick < 70)
        {
            EXPECT_EQ(tick, static_cast<int>(2 * i)) << "the first run lost input " << i;
        }
    }
}

TEST(MonitorDemoTest, TheEventsAreTheArrivalsAndScriptChangesTheScenarioMade)
{
    std::vector<uint32_t> scripts;
    std::vector<std::pair<std::string, uint32_t>> devices;
    for (const auto& event : Demo().events)
    {
        if (event.first == "script")
            scripts.push_back(event.second);
        else
            devices.push_back(event);
    }
    // The script runs at start, stops at 1.4 s, runs again at 2 s, stops at 3.4 s, runs at 4 s.
    ASSERT_GE(scripts.size(), 4u);
    for (size_t i = 0; i < scripts.size(); ++i)
        EXPECT_EQ(scripts[i], i % 2 == 0 ? 1u : 0u) << "script event " << i;
    // The filtered device leaves with each script and is described again when the next one runs.
    const int runs = static_cast<int>(std::count(scripts.begin(), scripts.end(), 1u));
    EXPECT_EQ(Demo().deviceLines.at(FILTERED_DEVICE_FLAG | CMonDemoScenario::kFilteredServiceId), runs);
    // The gamepad and the stick present at start; then the arcade pad comes and goes, taking the next
    // position each time it comes back (the table's search for a free slot moves on).
    using Events = std::vector<std::pair<std::string, uint32_t>>;
    const Events expected = {{"added", 0}, {"added", 1},   {"added", 2}, {"removed", 2},
                             {"added", 3}, {"removed", 3}, {"added", 4}};
    ASSERT_GE(devices.size(), 4u);
    ASSERT_LE(devices.size(), expected.size());
    const Events sent(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(devices.size()));
    EXPECT_EQ(devices, sent);
}
