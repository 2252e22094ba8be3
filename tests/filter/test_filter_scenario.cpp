// The scenario a process gives the simulated service through KVSC_SCENARIO (KvSimScenario.h), as the
// application then finds it through the library. Each test runs in a process of its own, so the variable
// set here is the one read at the process's first connection.
#include <gtest/gtest.h>

#include "KvFilterTestSupport.h"
#include "KvTestSupport.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace
{
void StartWithScenario(const std::string& text)
{
    ASSERT_EQ(setenv("KVSC_SCENARIO", text.c_str(), 1), 0);
    ASSERT_EQ(KvHRInitialize(), 0u);
}

std::vector<uint32_t> FilteredDevices()
{
    uint32_t* list = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(KvHRFilterGetDevicesList(&list, &count), 0u);
    std::vector<uint32_t> ids(list, list + count);
    KvHRFree(list);
    return ids;
}

bool ScriptRunning()
{
    uint8_t running = 0xFF;
    EXPECT_EQ(KvHRFilterGetScriptRunning(&running), 0u);
    return running != 0;
}

std::vector<_stHidCapability> Capabilities(uint32_t id)
{
    _stHidCapability* caps = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(KvHRGetDeviceCapabilities(id, &caps, &count), 0u);
    std::vector<_stHidCapability> out(caps, caps + count);
    KvHRFree(caps);
    return out;
}

WString Name(uint32_t id)
{
    KvHRWChar* name = nullptr;
    EXPECT_EQ(KvHRGetDeviceName(id, &name), 0u);
    WString copy(name ? name : TEXT(""));
    KvHRFree(name);
    return copy;
}
} // namespace

TEST(FilterScenario, TheServiceStartsWithTheScriptAndDevicesTheScenarioNames)
{
    StartWithScenario("  script=on ;device=1, Arcade Stick ,12,2,1;; device = 7,,0,3,0 ;");
    EXPECT_TRUE(ScriptRunning());
    ASSERT_EQ(FilteredDevices(), (std::vector<uint32_t>{FILTERED_DEVICE_FLAG | 1, FILTERED_DEVICE_FLAG | 7}));
    EXPECT_EQ(Name(FILTERED_DEVICE_FLAG | 1), W("Arcade Stick"));
    EXPECT_EQ(Name(FILTERED_DEVICE_FLAG | 7), W("FILTER-Implement"))
        << "an empty name is a device without one";

    const std::vector<_stHidCapability> stick = Capabilities(FILTERED_DEVICE_FLAG | 1);
    ASSERT_EQ(stick.size(), 15u) << "12 buttons, 2 axes, 1 hat";
    EXPECT_EQ(stick[11].usagePage, 9u);
    EXPECT_EQ(stick[11].usage, 12u);
    EXPECT_EQ(stick[12].usage, 0x30u) << "the first axis is X";
    EXPECT_EQ(stick[13].usage, 0x31u);
    EXPECT_EQ(stick[13].maxValue, 1023);
    EXPECT_EQ(stick[14].usage, 0x39u) << "then the hat";
    EXPECT_EQ(stick[14].maxValue, 7);
    EXPECT_EQ(Capabilities(FILTERED_DEVICE_FLAG | 7).size(), 3u);
    KvHRUnInitialize();
}

TEST(FilterScenario, IsReadAtTheFirstStartOnly)
{
    StartWithScenario("device=3,Wheel,4,1,0");
    KvHRUnInitialize();
    KvSimService::RemoveFilteredDevice(3);
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_TRUE(FilteredDevices().empty()) << "a restart does not bring the scenario's device back";
    EXPECT_FALSE(ScriptRunning());
    KvHRUnInitialize();
}

TEST(FilterScenario, SixteenDevicesAreTheMost)
{
    std::string text = "script=off";
    for (int id = 0; id < 16; ++id)
        text += ";device=" + std::to_string(id) + ",Pad " + std::to_string(id) + ",1,0,0";
    StartWithScenario(text);
    EXPECT_FALSE(ScriptRunning());
    EXPECT_EQ(FilteredDevices().size(), 16u);
    KvHRUnInitialize();
}

struct BadScenario
{
    const char* text;
    const char* reason; // part of the logged line
};

class FilterBadScenario : public ::testing::TestWithParam<BadScenario>
{
};

// The whole text is refused: the service starts empty, with one log line saying why.
TEST_P(FilterBadScenario, IsRefusedAsAWholeWithItsReasonAndTheServiceStartsEmpty)
{
    LogCapture log;
    StartWithScenario(GetParam().text);
    EXPECT_FALSE(ScriptRunning());
    EXPECT_TRUE(FilteredDevices().empty());
    const std::vector<WString> lines = log.Lines();
    size_t refusals = 0;
    for (const WString& line : lines)
        refusals += line.rfind(W("KvServiceControl: KVSC_SCENARIO ignored: "), 0) == 0 &&
                    line.find(W(GetParam().reason)) != WString::npos;
    EXPECT_EQ(refusals, 1u) << "no line names the reason '" << GetParam().reason << "'";
    KvHRUnInitialize();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FilterBadScenario,
    ::testing::Values(BadScenario{"script=on;device=1,Pad,4,2,0;scrip=on", "unknown item 'scrip=on'"},
                      BadScenario{"script=yes;device=1,Pad,4,2,0", "script is 'yes'"},
                      BadScenario{"script=on;device=1,Pad,4,2", "has 4 fields, not 5"},
                      BadScenario{"device=1,Pad,4,2,0,9", "has 6 fields"},
                      BadScenario{"device=65536,Pad,4,2,0", "device id '65536'"},
                      BadScenario{"device=-1,Pad,4,2,0", "device id '-1'"},
                      BadScenario{"device=0x10,Pad,4,2,0", "device id '0x10'"},
                      BadScenario{"device=1,Pad,256,2,0", "buttons '256'"},
                      BadScenario{"device=1,Pad,4,12,0", "axes '12'"},
                      BadScenario{"device=1,Pad,4,2,9", "hats '9'"},
                      BadScenario{"device=1,Pad,,2,0", "buttons ''"},
                      BadScenario{"device=1,Pad\x01,4,2,0", "not printable ASCII"},
                      BadScenario{"device=1,P\xC3\xA4d,4,2,0", "not printable ASCII"},
                      BadScenario{"device=2,A,1,0,0;device=2,B,1,0,0", "device id 2 is given twice"},
                      BadScenario{"device=99999999999999999999,Pad,1,0,0", "is not a number"},
                      BadScenario{"script", "unknown item 'script'"}));

TEST(FilterScenario, SeventeenDevicesAreRefused)
{
    LogCapture log;
    std::string text;
    for (int id = 0; id < 17; ++id)
        text += "device=" + std::to_string(id) + ",Pad,1,0,0;";
    StartWithScenario(text);
    EXPECT_TRUE(FilteredDevices().empty());
    EXPECT_EQ(log.CountContaining(W("ignored: more than 16 devices")), 1u);
    KvHRUnInitialize();
}
