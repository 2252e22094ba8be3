// The virtual keyboard through the exports: its records, its deliveries and the names of its keys.
#include <gtest/gtest.h>

#include "VirtualTestSupport.h"

#include <dinput.h>

namespace machine = winport::machine;

namespace
{
class VirtualKeyboardTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_EQ(KvHRInitialize(), 0u); }
    void TearDown() override { EXPECT_EQ(KvHRUnInitialize(), 0u); }
};

WString Text(const KvHRWChar* text)
{
    return text ? WString(text) : WString();
}

WString KeyName(uint32_t key)
{
    const KvHRWChar* name = nullptr;
    EXPECT_EQ(KvHRDirectInputGetVirtualKeyboardBtnsName(key, &name), 0u);
    return Text(name);
}
} // namespace

TEST_F(VirtualKeyboardTest, ListsEveryKeyCodeAsAButtonWhateverTheKeyboardHas)
{
    _stHidCapability* caps = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(KvHRGetDeviceCapabilities(VIRTUAL_KEYBOARD_ID, &caps, &count), 0u);
    ASSERT_EQ(count, 255u);
    for (uint32_t i = 0; i < count; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(caps[i].usage, i + 1);
        EXPECT_EQ(caps[i].usagePage, 9);
        EXPECT_EQ(caps[i].isAbsolute, 0);
        EXPECT_EQ(caps[i].minValue, 0);
        EXPECT_EQ(caps[i].maxValue, 1);
        EXPECT_EQ(caps[i].index, 0u);
    }
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("KvHRGetDeviceCapabilities")), 1u);
    EXPECT_EQ(KvHRFree(caps), 0);

    // Without a keyboard the list is the same: it names key codes, not the keys of this keyboard.
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    machine::SetKeyboardPresent(false);
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_EQ(KvHRGetDeviceCapabilities(VIRTUAL_KEYBOARD_ID, &caps, &count), 0u);
    EXPECT_EQ(count, 255u);
    EXPECT_EQ(KvHRFree(caps), 0);
}

TEST_F(VirtualKeyboardTest, AKeyPressedAndReleasedWithinOneTickGivesTwoCallsInOrder)
{
    ValueRecorder keys;
    ASSERT_EQ(KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &ValueRecorder::Callback, &keys), 0u);
    // Both events wait in DirectInput's buffer until the first tick, which comes as polling starts.
    ASSERT_TRUE(machine::PressKey(DIK_A));
    ASSERT_TRUE(machine::ReleaseKey(DIK_A));
    ASSERT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1), 0u);
    ASSERT_TRUE(keys.WaitForCount(2));

    const auto calls = keys.Deliveries();
    ASSERT_EQ(calls.size(), 2u);
    for (size_t i = 0; i < calls.size(); ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(calls[i].values.size(), 1u);
        EXPECT_EQ(calls[i].values.at(0).usage, DIK_A);
        EXPECT_EQ(calls[i].values.at(0).usagePage, 9);
        EXPECT_EQ(calls[i].values.at(0).index, 0u);
    }
    EXPECT_EQ(calls[0].values.at(0).value, 1u);
    EXPECT_EQ(calls[0].values.at(0).scaledValue, 1);
    EXPECT_EQ(calls[1].values.at(0).value, 0u);
    EXPECT_EQ(calls[1].values.at(0).scaledValue, 0);

    // Only changes are delivered: a key held down is reported once.
    ASSERT_TRUE(machine::PressKey(DIK_RCONTROL));
    ASSERT_TRUE(keys.WaitForCount(3));
    EXPECT_EQ(keys.Deliveries()[2].values.at(0).usage, DIK_RCONTROL);
    EXPECT_EQ(KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 0), 0u);
    EXPECT_EQ(keys.Count(), 3u);
}

TEST(VirtualKeyboardNamesTest, NamesEveryCodeAndAnswersQuestionMarksOutsideTheTable)
{
    // No start needed: the names are the library's constant text.
    EXPECT_EQ(KeyName(0x01), W("ESCAPE"));
    EXPECT_EQ(KeyName(0x0B), W("0"));
    EXPECT_EQ(KeyName(0x0E), W("BACK"));
    EXPECT_EQ(KeyName(0x38), W("LMENU"));
    EXPECT_EQ(KeyName(0x90), W("PREVTRACK"));
    EXPECT_EQ(KeyName(0xC9), W("PRIOR"));
    EXPECT_EQ(KeyName(0xD1), W("NEXT"));
    EXPECT_EQ(KeyName(0xED), W("MEDIASELECT"));
    for (uint32_t key : {0u, 0x54u, 0x55u, 0x98u, 0xE4u, 0xEEu, 0xFFu, 238u, 0x100u, 0xFFFFFFFFu})
    {
        SCOPED_TRACE(key);
        EXPECT_EQ(KeyName(key), W("???"));
    }

    size_t named = 0;
    for (uint32_t key = 1; key <= 255; ++key)
    {
        const WString name = KeyName(key);
        EXPECT_FALSE(name.empty()) << key;
        named += name != W("???");
    }
    EXPECT_EQ(named, 144u);
}

TEST(VirtualKeyboardNamesTest, NamesAreConstantsOfTheLibraryHandedOutAsTheSamePointer)
{
    const KvHRWChar* first = nullptr;
    const KvHRWChar* second = nullptr;
    ASSERT_EQ(KvHRDirectInputGetVirtualKeyboardBtnsName(DIK_SPACE, &first), 0u);
    ASSERT_EQ(KvHRDirectInputGetVirtualKeyboardBtnsName(DIK_SPACE, &second), 0u);
    EXPECT_EQ(first, second);
    EXPECT_EQ(KvHRFree(const_cast<KvHRWChar*>(first)), 87); // not a block of the allocator

    // One shared "???" for every code without a name.
    const KvHRWChar* none = nullptr;
    const KvHRWChar* gap = nullptr;
    const KvHRWChar* beyond = nullptr;
    ASSERT_EQ(KvHRDirectInputGetVirtualKeyboardBtnsName(0, &none), 0u);
    ASSERT_EQ(KvHRDirectInputGetVirtualKeyboardBtnsName(0x54, &gap), 0u);
    ASSERT_EQ(KvHRDirectInputGetVirtualKeyboardBtnsName(238, &beyond), 0u);
    EXPECT_EQ(none, gap);
    EXPECT_EQ(none, beyond);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), 0u);
}
