// The debug log's formatting and the failed-check lines.
#include <gtest/gtest.h>

#include "KvCheck.h"
#include "KvCommon.h"
#include "KvTestSupport.h"

namespace
{
WString Logged(void (*emit)())
{
    LogCapture log;
    emit();
    const auto lines = log.Lines();
    return lines.empty() ? WString() : lines.back();
}
} // namespace

TEST(DebugLogTest, FormatsWideAndNarrowStringsNumbersAndWidths)
{
    EXPECT_EQ(Logged([] { KvDebugLog(TEXT("%ws|%s|%hs|%S"), TEXT("wide"), TEXT("w2"), "narrow", "n2"); }),
              W("wide|w2|narrow|n2"));
    EXPECT_EQ(Logged([] { KvDebugLog(TEXT("%d %i %u"), -42, 7, 4000000000u); }), W("-42 7 4000000000"));
    EXPECT_EQ(Logged([] { KvDebugLog(TEXT("0x%08x 0x%08X %x"), 0x1fu, 0xABCDEFu, 0xFFFFFFFFu); }),
              W("0x0000001f 0x00ABCDEF ffffffff"));
    EXPECT_EQ(Logged([] { KvDebugLog(TEXT("[%5d][%-5d][%05d]"), 42, 42, -42); }), W("[   42][42   ][-0042]"));
    EXPECT_EQ(Logged([] { KvDebugLog(TEXT("[%6ws][%-6ws][%.2ws]"), TEXT("ab"), TEXT("ab"), TEXT("abc")); }),
              W("[    ab][ab    ][ab]"));
    EXPECT_EQ(Logged([] { KvDebugLog(TEXT("%I64d %lld %llu"), -5LL, 1LL << 40, ~0ULL); }),
              W("-5 1099511627776 18446744073709551615"));
    EXPECT_EQ(Logged([] { KvDebugLog(TEXT("%c%hc %% %*d"), TEXT('W'), 'n', 4, 7); }), W("Wn %    7"));
    EXPECT_EQ(Logged([] { KvDebugLog(TEXT("%ws"), static_cast<LPCWSTR>(nullptr)); }), W("(null)"));
}

// The runtime's wide printf rejects these formats (as Windows' does); the line is kept as written.
TEST(DebugLogTest, FormatTheRuntimeRejectsIsLoggedAsWritten)
{
    EXPECT_EQ(Logged([] { KvDebugLog(TEXT("a %y b %d"), 3); }), W("a %y b %d"));
    EXPECT_EQ(Logged([] { KvDebugLog(TEXT("trailing %")); }), W("trailing %"));
}

TEST(DebugLogTest, LogStringPassesTextUnchanged)
{
    EXPECT_EQ(Logged([] { KvDebugLogString(TEXT("100% plain %d\n")); }), W("100% plain %d\n"));
}

// Outside any namespace, as the library's classes are. Check returns the line of its check.
struct CKvSample
{
    static int Check(int value)
    {
        KV_ASSERT(value == 1);
        return __LINE__ - 1;
    }
    static void Verify(DWORD status) { KV_VERIFY(status); }
};

static void FreeFunction()
{
    KV_ASSERT(false);
}

TEST(FailedCheckTest, AssertLineNamesConditionFileLineAndQualifiedFunction)
{
    LogCapture log;
    CKvSample::Check(1);
    EXPECT_TRUE(log.Lines().empty());
    const int line = CKvSample::Check(2);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], W(("ASSERT(value == 1) failed in \"test_log\" at line " + std::to_string(line) +
                                 " function CKvSample::Check")
                                    .c_str()));
}

TEST(FailedCheckTest, VerifyLineCarriesTheStatusAsHresult)
{
    LogCapture log;
    CKvSample::Verify(0);
    EXPECT_TRUE(log.Lines().empty());
    CKvSample::Verify(122);
    ASSERT_EQ(log.Lines().size(), 1u);
    const WString line = log.Lines()[0];
    EXPECT_EQ(line.rfind(W("VERIFY(status) failed in \"test_log\" at line "), 0), 0u);
    EXPECT_NE(line.find(W(" function CKvSample::Verify HRESULT:0x0000007a")), WString::npos);
}

TEST(FailedCheckTest, QualifiedNameComesFromThePrettyFunctionOnEveryBuild)
{
    EXPECT_EQ(KvCheck::QualifiedName("unsigned int CKvHidFilterMgmt::Initialize()"),
              W("CKvHidFilterMgmt::Initialize"));
    EXPECT_EQ(KvCheck::QualifiedName("static int CKvHidFilterMgmt::StatusNotificationCallback(void*, int)"),
              W("CKvHidFilterMgmt::StatusNotificationCallback"));
    EXPECT_EQ(KvCheck::QualifiedName("uint32_t KvHRGetDevicesList(uint32_t**, uint32_t*)"),
              W("KvHRGetDevicesList"));
    EXPECT_EQ(KvCheck::QualifiedName("void* CKvA::Get(std::map<int, int>)"), W("CKvA::Get"));
    EXPECT_EQ(KvCheck::QualifiedName("const CKvB& CKvB::Self() const"), W("CKvB::Self"));
    EXPECT_EQ(KvCheck::FileStem("C:\\src\\api\\KvHidRaw.cpp"), W("KvHidRaw"));
    EXPECT_EQ(KvCheck::FileStem("/x/y/KvHidFilterMgmt.cpp"), W("KvHidFilterMgmt"));
    LogCapture log;
    FreeFunction();
    EXPECT_EQ(log.CountContaining(W(" function FreeFunction")), 1u);
}
