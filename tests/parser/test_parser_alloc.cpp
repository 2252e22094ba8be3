// Extraction allocates nothing: every C++ allocation of the process is
// counted while a report is unpacked the way the library unpacks one.
#include "ParsedDescriptor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{
std::atomic<long> g_allocations{0};
}

void* operator new(std::size_t size)
{
    ++g_allocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

TEST(ParserAllocations, UnpackingAReportAllocatesNothing)
{
    // Report 1: buttons 1..8 and a hat; report 2: X, Y and a 3-byte vendor array.
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x05, 0xa1, 0x01, 0x85, 0x01, 0x05, 0x09, 0x19, 0x01,
                        0x29, 0x08, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x05, 0x01,
                        0x09, 0x39, 0x25, 0x07, 0x75, 0x08, 0x95, 0x01, 0x81, 0x42, 0x85, 0x02,
                        0x09, 0x30, 0x09, 0x31, 0x26, 0xff, 0x00, 0x95, 0x02, 0x81, 0x02, 0x06,
                        0x00, 0xff, 0x09, 0x20, 0x95, 0x03, 0x81, 0x02, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    PHIDP_PREPARSED_DATA data = p.preparsed();
    char buttons[6] = {1, 0x0f, 3, 0, 0, 0};
    char axes[6] = {2, 0x10, 0x20, 1, 2, 3};
    USAGE usages[16];
    ULONG value = 0;
    LONG scaled = 0;
    char array[3];
    HIDP_CAPS caps;

    const long before = g_allocations.load();
    for (int i = 0; i < 100; ++i)
    {
        ULONG count = 16;
        EXPECT_EQ(HidP_GetUsages(HidP_Input, 9, 0, usages, &count, data, buttons, 6), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 1, 0, 0x39, &value, data, buttons, 6), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x39, &scaled, data, buttons, 6),
                  HIDP_STATUS_SUCCESS);
        EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 1, 0, 0x30, &value, data, axes, 6), HIDP_STATUS_SUCCESS);
        EXPECT_EQ(HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x31, &scaled, data, axes, 6),
                  HIDP_STATUS_SUCCESS);
        EXPECT_EQ(HidP_GetUsageValueArray(HidP_Input, 0xff00, 0, 0x20, array, 3, data, axes, 6),
                  HIDP_STATUS_SUCCESS);
        EXPECT_EQ(HidP_GetUsageValue(HidP_Input, 1, 0, 0x30, &value, data, buttons, 6),
                  HIDP_STATUS_INCOMPATIBLE_REPORT_ID);
        EXPECT_EQ(HidP_GetCaps(data, &caps), HIDP_STATUS_SUCCESS);
    }
    EXPECT_EQ(g_allocations.load() - before, 0);
}
