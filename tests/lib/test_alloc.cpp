// Tagged blocks of KvCommon and their accounting.
#include <gtest/gtest.h>

#include "KvCommon.h"
#include "KvTestSupport.h"

#include <cstring>

TEST(DllAllocTest, CountsLiveBlocksPerTagUntilFreedWhateverTheTagGivenToFree)
{
    void* a = DllAlloc::Allocate(16, TEXT("TagA"));
    void* b = DllAlloc::MemCopyAlloc("abc", 4, TEXT("TagA"));
    LPWSTR c = DllAlloc::StringCopyAlloc(TEXT("name"), TEXT("TagC"));
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("TagA")), 2u);
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("TagC")), 1u);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), 3u);

    EXPECT_EQ(DllAlloc::Free(a, TEXT("SomethingElse")), 0);
    EXPECT_EQ(DllAlloc::Free(b, nullptr), 0);
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("TagA")), 0u);
    EXPECT_EQ(WString(c), W("name"));
    EXPECT_EQ(DllAlloc::Free(c, TEXT("TagC")), 0);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), 0u);
}

TEST(DllAllocTest, CopiesAreExact)
{
    const unsigned char bytes[5] = {1, 0, 255, 7, 9};
    void* copy = DllAlloc::MemCopyAlloc(bytes, sizeof bytes, TEXT("Copy"));
    EXPECT_EQ(std::memcmp(copy, bytes, sizeof bytes), 0);
    DllAlloc::Free(copy, nullptr);

    LPWSTR empty = DllAlloc::StringCopyAlloc(TEXT(""), TEXT("Copy"));
    EXPECT_EQ(empty[0], 0);
    DllAlloc::Free(empty, nullptr);
}

TEST(DllAllocTest, FreeRefusesBlocksItDidNotHandOutOrAlreadyTookBack)
{
    int local = 0;
    EXPECT_EQ(DllAlloc::Free(&local, nullptr), 87);
    void* block = DllAlloc::Allocate(8, TEXT("Twice"));
    EXPECT_EQ(DllAlloc::Free(block, nullptr), 0);
    EXPECT_EQ(DllAlloc::Free(block, nullptr), 87);
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("Twice")), 0u);
    EXPECT_EQ(DllAlloc::Free(nullptr, nullptr), 0);
}

TEST(DllAllocTest, ZeroBytesStillMakeADistinctBlock)
{
    void* a = DllAlloc::Allocate(0, TEXT("Zero"));
    void* b = DllAlloc::Allocate(0, TEXT("Zero"));
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("Zero")), 2u);
    DllAlloc::Free(a, nullptr);
    DllAlloc::Free(b, nullptr);
}
