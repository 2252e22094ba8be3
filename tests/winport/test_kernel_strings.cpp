// kernel32's UTF-16 to UTF-8 conversion, which the debug output and KvCommon's log rely on.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace
{

std::string ToUtf8(const std::u16string& text, DWORD flags = 0)
{
    int size = WideCharToMultiByte(CP_UTF8, flags, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                   nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, flags, text.c_str(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

} // namespace

TEST(WideCharToMultiByte, EncodesEveryLengthOfSequenceAndSurrogatePairs)
{
    EXPECT_EQ(ToUtf8(u"A"), "A");
    EXPECT_EQ(ToUtf8(u"\u00e9"), "\xc3\xa9");
    EXPECT_EQ(ToUtf8(u"\u20ac"), "\xe2\x82\xac");
    EXPECT_EQ(ToUtf8(u"\U0001F600"), "\xf0\x9f\x98\x80");
}

TEST(WideCharToMultiByte, AnUnpairedSurrogateBecomesTheReplacementOrFailsWhenStrict)
{
    const std::u16string lone = {u'a', 0xD800, u'b', 0xDC00};
    EXPECT_EQ(ToUtf8(lone), "a\xef\xbf\xbd"
                            "b\xef\xbf\xbd");
    SetLastError(0);
    EXPECT_EQ(
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, lone.c_str(), 4, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(WideCharToMultiByte, MinusOneCountsTheTerminatorAndAShortBufferFails)
{
    const char16_t* text = u"\u20acx";
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr), 5);
    char buffer[5];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, 4, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, 5, nullptr, nullptr), 5);
    EXPECT_STREQ(buffer, "\xe2\x82\xacx");
}

TEST(WideCharToMultiByte, RefusesWhatUtf8DoesNotTake)
{
    BOOL usedDefault = FALSE;
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"x", -1, nullptr, 0, nullptr, &usedDefault), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"x", 0, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, u"x", -1, nullptr, 0, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}
