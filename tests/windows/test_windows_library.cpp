// The Windows DLL under a Windows loader: load, start, stop, memory, script events and unload.
#include <gtest/gtest.h>

#include <windows.h>

#include "KvHidRaw.h"
#include "KvSimService.h"
#include "KvTestSupport.h"

#include <atomic>

namespace
{
typedef uint32_t(KVHR_CALL* StatusFn)();
typedef void*(KVHR_CALL* AllocateFn)(uint64_t, const KvHRWChar*);
typedef int32_t(KVHR_CALL* FreeFn)(void*);
typedef int32_t(KVHR_CALL* FreeWithTagFn)(void*, const KvHRWChar*);
typedef uint32_t(KVHR_CALL* SetHandlerFn)(NotificationHandler, void*);

template <typename F> F Export(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

std::atomic<int> scriptEvents{0};
std::atomic<DWORD> lastEventThread{0};
void KVHR_CALL Handler(uint32_t event, uint32_t, void*)
{
    if (event == NOTIF_SCRIPT_STATE)
    {
        lastEventThread = GetCurrentThreadId();
        ++scriptEvents;
    }
}
} // namespace

TEST(WindowsLibraryTest, LoadsStartsStopsAllocatesFreesAndUnloads)
{
    HMODULE library = LoadLibraryW(L"KvHidRaw.dll");
    ASSERT_NE(library, nullptr);
    auto initialize = Export<StatusFn>(library, "KvHRInitialize");
    auto uninitialize = Export<StatusFn>(library, "KvHRUnInitialize");
    auto allocate = Export<AllocateFn>(library, "KvHRAllocate");
    auto freeBlock = Export<FreeFn>(library, "KvHRFree");
    auto freeWithTag = Export<FreeWithTagFn>(library, "KvHRFreeWithTag");
    ASSERT_TRUE(initialize && uninitialize && allocate && freeBlock && freeWithTag);
    // Exports by ordinal follow the alphabetical order: 1 is KvHRAllocate.
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(1))),
              reinterpret_cast<void*>(allocate));

    EXPECT_EQ(initialize(), 0u);
    EXPECT_EQ(initialize(), KVHR_ERROR_ALREADY_INITIALIZED);
    void* block = allocate(100, nullptr);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(DllAlloc::LiveBlocks(L"KvSCAllocate"), 1u);
    EXPECT_EQ(freeBlock(block), 0);
    void* tagged = allocate(4, L"App");
    EXPECT_EQ(freeWithTag(tagged, L"App"), 0);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), 0u);
    EXPECT_EQ(uninitialize(), 0u);
    EXPECT_FALSE(KvSimService::IsConnected());
    EXPECT_TRUE(FreeLibrary(library));
}

TEST(WindowsLibraryTest, ScriptEventsComeOnTheServiceThread)
{
    HMODULE library = LoadLibraryW(L"KvHidRaw.dll");
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(Export<SetHandlerFn>(library, "KvHRSetNotificationHandler")(&Handler, nullptr), 0u);
    ASSERT_EQ(Export<StatusFn>(library, "KvHRInitialize")(), 0u);
    EXPECT_EQ(scriptEvents, 1);
    EXPECT_EQ(lastEventThread, GetCurrentThreadId());
    KvSimService::SetScriptRunning(true);
    KvSimService::NotifyScriptState();
    ASSERT_TRUE(WaitUntil([] { return scriptEvents == 3; }));
    EXPECT_NE(lastEventThread, GetCurrentThreadId());
    EXPECT_EQ(Export<StatusFn>(library, "KvHRUnInitialize")(), 0u);
    EXPECT_TRUE(FreeLibrary(library));
}

TEST(WindowsLibraryTest, UnloadingWithoutStopReleasesTheService)
{
    HMODULE library = LoadLibraryW(L"KvHidRaw.dll");
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(Export<StatusFn>(library, "KvHRInitialize")(), 0u);
    EXPECT_TRUE(KvSimService::IsConnected());
    EXPECT_TRUE(FreeLibrary(library));
    EXPECT_FALSE(KvSimService::IsConnected());
    EXPECT_EQ(GetModuleHandleW(L"KvHidRaw.dll"), nullptr);
}

// KvCommon formats with msvcrt's wide printf here and with winport's natively; both give these lines.
TEST(WindowsLibraryTest, LogLinesUseWindowsWidePrintfConventions)
{
    LogCapture log;
    KvDebugLog(TEXT("%ws|%s|%hs|%S|%d|%u|0x%08x|%5d"), TEXT("wide"), TEXT("w2"), "narrow", "n2", -42,
               4000000000u, 0x1fu, 7);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0], W("wide|w2|narrow|n2|-42|4000000000|0x0000001f|    7"));
}

namespace
{
HANDLE handlerEntered;
HANDLE handlerRelease;
void KVHR_CALL BlockingHandler(uint32_t event, uint32_t value, void*)
{
    if (event != NOTIF_SCRIPT_STATE || value != 1)
        return;
    SetEvent(handlerEntered);
    WaitForSingleObject(handlerRelease, 10000);
}
} // namespace

// The handler outlasts the service's bounded wait at unload: the library pins itself and KvCommon, so the
// notification returns into code that is still there.
TEST(WindowsLibraryTest, UnloadWhileAHandlerOutlastsTheServiceWaitLeavesTheLibraryLoaded)
{
    LogCapture log;
    handlerEntered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    handlerRelease = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    KvSimService::SetStopWait(50);
    HMODULE library = LoadLibraryW(L"KvHidRaw.dll");
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(Export<SetHandlerFn>(library, "KvHRSetNotificationHandler")(&BlockingHandler, nullptr), 0u);
    ASSERT_EQ(Export<StatusFn>(library, "KvHRInitialize")(), 0u);
    KvSimService::SetScriptRunning(true);
    ASSERT_EQ(WaitForSingleObject(handlerEntered, 10000), WAIT_OBJECT_0);

    EXPECT_TRUE(FreeLibrary(library));
    EXPECT_NE(GetModuleHandleW(L"KvHidRaw.dll"), nullptr);
    EXPECT_EQ(log.CountContaining(W("not waiting longer")), 1u);
    EXPECT_EQ(log.CountContaining(W("still runs in the library; it stays loaded")), 1u);
    SetEvent(handlerRelease);
    EXPECT_TRUE(WaitUntil([] { return KvSimService::DeliveredNotifications() == 1; }));
    EXPECT_EQ(log.CountContaining(W("could not release")), 1u); // its handler lock was detached, not freed
    CloseHandle(handlerEntered);
    CloseHandle(handlerRelease);
}
