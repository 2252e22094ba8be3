// The HidP_* functions keep no state: threads may share one preparsed block.
#include "ParsedDescriptor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(ParserThreads, ThreadsShareOnePreparsedBlock)
{
    ParsedDescriptor p({0x05, 0x01, 0x09, 0x04, 0xa1, 0x01, 0x05, 0x09, 0x19, 0x01, 0x29, 0x08, 0x25,
                        0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31,
                        0x15, 0x81, 0x25, 0x7f, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xc0});
    ASSERT_EQ(p.status(), HIDP_STATUS_SUCCESS);
    PHIDP_PREPARSED_DATA data = p.preparsed();
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back(
            [&, t]
            {
                char report[4] = {0, static_cast<char>(1 << t), static_cast<char>(t), static_cast<char>(-t)};
                for (int i = 0; i < 2000; ++i)
                {
                    USAGE usages[8];
                    ULONG count = 8;
                    LONG y = 0;
                    if (HidP_GetUsages(HidP_Input, 9, 0, usages, &count, data, report, 4) !=
                            HIDP_STATUS_SUCCESS ||
                        count != 1 || usages[0] != t + 1)
                        ++mismatches;
                    if (HidP_GetScaledUsageValue(HidP_Input, 1, 0, 0x31, &y, data, report, 4) !=
                            HIDP_STATUS_SUCCESS ||
                        y != -t)
                        ++mismatches;
                }
            });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}
