// The CRT's wide-string functions on WCHAR strings: bounds, truncation, case, and Windows' wide
// printf conventions.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace
{

std::u16string Format(const char16_t* format, ...)
{
    char16_t buffer[256];
    va_list args;
    va_start(args, format);
    int n = vswprintf_s(buffer, 256, format, args);
    va_end(args);
    EXPECT_GE(n, 0);
    return n < 0 ? u"<error>" : std::u16string(buffer, static_cast<size_t>(n));
}

TEST(WideStrings, CopyRefusesWhatDoesNotFitAndEmptiesTheDestination)
{
    char16_t dest[5] = u"abcd";
    EXPECT_EQ(wcscpy_s(dest, 5, u"wxyz"), 0);
    EXPECT_EQ(std::u16string(dest), u"wxyz");
    EXPECT_EQ(wcscpy_s(dest, 5, u"vwxyz"), ERANGE);
    EXPECT_EQ(dest[0], 0);
    wcscpy_s(dest, u"ab");
    EXPECT_EQ(wcscpy_s(dest, 5, nullptr), EINVAL);
    EXPECT_EQ(dest[0], 0);
    EXPECT_EQ(wcscpy_s(nullptr, 5, u"a"), EINVAL);
}

TEST(WideStrings, BoundedCopyTruncatesOnlyWhenAsked)
{
    char16_t dest[5];
    EXPECT_EQ(wcsncpy_s(dest, 5, u"abcdefgh", _TRUNCATE), STRUNCATE);
    EXPECT_EQ(std::u16string(dest), u"abcd");
    EXPECT_EQ(wcsncpy_s(dest, 5, u"abcdefgh", 3), 0);
    EXPECT_EQ(std::u16string(dest), u"abc");
    EXPECT_EQ(wcsncpy_s(dest, 5, u"abcdefgh", 5), ERANGE);
    EXPECT_EQ(dest[0], 0);
    EXPECT_EQ(wcsncpy_s(dest, 5, u"ab", _TRUNCATE), 0);
    EXPECT_EQ(std::u16string(dest), u"ab");
}

TEST(WideStrings, ConcatenationChecksTheWholeResult)
{
    char16_t dest[6] = u"ab";
    EXPECT_EQ(wcscat_s(dest, 6, u"cde"), 0);
    EXPECT_EQ(std::u16string(dest), u"abcde");
    EXPECT_EQ(wcscat_s(dest, 6, u"f"), ERANGE);
    EXPECT_EQ(dest[0], 0);
}

TEST(WideStrings, CaseInsensitiveCompareFoldsToLowerCase)
{
    EXPECT_EQ(_wcsicmp(u"\\\\?\\HID#VID_1234", u"\\\\?\\hid#vid_1234"), 0);
    EXPECT_LT(_wcsicmp(u"abc", u"ABD"), 0);
    EXPECT_GT(_wcsicmp(u"abcd", u"ABC"), 0);
    // '_' sorts before letters once they are folded to lower case, unlike a plain compare.
    EXPECT_LT(_wcsicmp(u"_", u"A"), 0);
    EXPECT_GT(wcscmp(u"_", u"A"), 0);
    EXPECT_EQ(_wcsnicmp(u"abcX", u"ABCy", 3), 0);
    // Only ASCII letters fold.
    EXPECT_NE(_wcsicmp(u"\u00e9", u"\u00c9"), 0);
}

TEST(WideStrings, UpperCaseConversionTouchesOnlyAsciiLetters)
{
    char16_t text[] = u"hid#vid_045e&pid_028e\u00e9";
    EXPECT_EQ(_wcsupr(text), text);
    EXPECT_EQ(std::u16string(text), u"HID#VID_045E&PID_028E\u00e9");
    char16_t small[4] = u"abc";
    EXPECT_EQ(_wcsupr_s(small, 4), 0);
    EXPECT_EQ(std::u16string(small), u"ABC");
    EXPECT_EQ(_wcsupr_s(small, 3), EINVAL); // not terminated within the size
}

TEST(WideStrings, SearchAndLength)
{
    const char16_t* text = u"a#b#c";
    EXPECT_EQ(wcslen(text), 5u);
    EXPECT_EQ(wcslen(u""), 0u);
    EXPECT_EQ(wcschr(text, u'#'), text + 1);
    EXPECT_EQ(wcsrchr(text, u'#'), text + 3);
    EXPECT_EQ(wcschr(text, u'z'), nullptr);
    EXPECT_EQ(wcschr(text, 0), text + 5);
    EXPECT_EQ(wcsstr(text, u"b#"), text + 2);
    EXPECT_LT(wcsncmp(u"abc", u"abd", 3), 0);
    EXPECT_EQ(wcsncmp(u"abc", u"abd", 2), 0);
}

TEST(WidePrintf, StringConversionsFollowWindowsWidePrintf)
{
    EXPECT_EQ(Format(u"[%s|%ws|%ls]", u"wide", u"ws", u"ls"), u"[wide|ws|ls]");
    EXPECT_EQ(Format(u"[%hs|%S]", "narrow", "cap"), u"[narrow|cap]");
    EXPECT_EQ(Format(u"%s", static_cast<const char16_t*>(nullptr)), u"(null)");
    EXPECT_EQ(Format(u"[%5s|%-5s|%.2s]", u"ab", u"ab", u"abcdef"), u"[   ab|ab   |ab]");
    EXPECT_EQ(Format(u"%hs", "caf\xc3\xa9"), u"caf\u00e9");
    EXPECT_EQ(Format(u"%c%C%hc%%", u'W', 'n', 'h'), u"Wnh%");
}

TEST(WidePrintf, IntegerConversionsUseWindowsSizes)
{
    EXPECT_EQ(Format(u"%d %i %u", -5, 7, 4000000000u), u"-5 7 4000000000");
    EXPECT_EQ(Format(u"%x %X %08x %#x", 0xbeefu, 0xbeefu, 0x1au, 255u), u"beef BEEF 0000001a 0xff");
    EXPECT_EQ(Format(u"%ld %lu", static_cast<LONG>(-1), static_cast<ULONG>(3)), u"-1 3"); // long is 32 bits
    EXPECT_EQ(Format(u"%I64d %lld %I64x", -9000000000LL, 9000000000LL, 0x123456789ULL),
              u"-9000000000 9000000000 123456789");
    EXPECT_EQ(Format(u"%Iu %zu", static_cast<size_t>(1) << 40, static_cast<size_t>(12)), u"1099511627776 12");
    EXPECT_EQ(Format(u"%hd %hu", 70000, 70000), u"4464 4464");
    EXPECT_EQ(Format(u"[%5d|%-5d|%+d|%05d|%.3d]", 42, 42, 42, -42, 7), u"[   42|42   |+42|-0042|007]");
    EXPECT_EQ(Format(u"[%*d|%-*d]", 4, 1, 3, 2), u"[   1|2  ]");
}

TEST(WidePrintf, PointersPrintSixteenUpperCaseHexDigits)
{
    EXPECT_EQ(Format(u"%p", reinterpret_cast<void*>(0xabc123)), u"0000000000ABC123");
}

TEST(WidePrintf, FloatsFormatAsInC)
{
    EXPECT_EQ(Format(u"%.2f %5.1f %e", 3.14159, 2.25, 1000.0), u"3.14   2.2 1.000000e+03");
}

TEST(WidePrintf, BufferTooSmallFailsAndEmptiesIt)
{
    char16_t buffer[6] = u"xxxxx";
    EXPECT_EQ(swprintf_s(buffer, 6, u"%d", 123456), -1);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(swprintf_s(buffer, 6, u"%d", 12345), 5);
    EXPECT_EQ(std::u16string(buffer), u"12345");
    char16_t fixed[8];
    EXPECT_EQ(swprintf_s(fixed, u"%ws-%d", u"ab", 7), 4);
    EXPECT_EQ(std::u16string(fixed), u"ab-7");
}

TEST(WidePrintf, CountedFormsTruncateOnlyWhenToldTo)
{
    char16_t buffer[6];
    EXPECT_EQ(_snwprintf_s(buffer, 6, _TRUNCATE, u"%s", u"abcdefgh"), -1);
    EXPECT_EQ(std::u16string(buffer), u"abcde");
    EXPECT_EQ(_snwprintf_s(buffer, 6, 3, u"%s", u"abcdefgh"), -1);
    EXPECT_EQ(std::u16string(buffer), u"abc");
    EXPECT_EQ(_snwprintf_s(buffer, 6, 10, u"%s", u"abcdefgh"), -1);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(_snwprintf_s(buffer, 6, _TRUNCATE, u"%s", u"ab"), 2);
    EXPECT_EQ(swprintf(buffer, 6, u"%d", 1234567), -1);
    EXPECT_EQ(std::u16string(buffer), u"12345");
}

TEST(WidePrintf, RejectedConversionsFail)
{
    char16_t buffer[16];
    int count = 0;
    EXPECT_EQ(swprintf_s(buffer, 16, u"ab%n", &count), -1);
    EXPECT_EQ(swprintf_s(buffer, 16, u"%y"), -1);
    EXPECT_EQ(buffer[0], 0);
}

} // namespace
