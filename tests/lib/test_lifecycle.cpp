// Starting and stopping the library, and the memory exports.
#include <gtest/gtest.h>

#include "KvHidRaw.h"
#include "KvNotificationRecorder.h"
#include "KvSimService.h"
#include "KvTestSupport.h"

TEST(LifecycleTest, StartsOnAFreshMachineAndRefusesASecondStartWithTheFilterCheck)
{
    LogCapture log;
    EXPECT_EQ(KvHRInitialize(), 0u);
    EXPECT_TRUE(KvSimService::IsConnected());
    EXPECT_TRUE(KvSimService::HasHandler());
    EXPECT_EQ(log.CountContaining(W("ASSERT(")), 0u);

    EXPECT_EQ(KvHRInitialize(), KVHR_ERROR_ALREADY_INITIALIZED);
    const auto lines = log.Lines();
    ASSERT_EQ(log.CountContaining(W("ASSERT(")), 1u);
    const WString& check = lines.back();
    EXPECT_EQ(check.rfind(W("ASSERT(m_bInitialized == false) failed in \"KvHidFilterMgmt\" at line "), 0),
              0u);
    EXPECT_NE(check.find(W(" function CKvHidFilterMgmt::Initialize")), WString::npos);
    EXPECT_EQ(KvHRUnInitialize(), 0u);
}

TEST(LifecycleTest, StopReleasesTheServiceAndAStartAfterItSucceedsAgain)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    EXPECT_FALSE(KvSimService::IsConnected());
    EXPECT_FALSE(KvSimService::HasHandler());
    EXPECT_EQ(KvHRInitialize(), 0u);
    EXPECT_TRUE(KvSimService::IsConnected());
    EXPECT_EQ(KvHRUnInitialize(), 0u);
}

TEST(LifecycleTest, HandlerOutlivesAStopAndHearsTheNextStart)
{
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    ASSERT_EQ(KvHRInitialize(), 0u);
    ASSERT_EQ(KvHRUnInitialize(), 0u);
    KvSimService::SetScriptRunning(true); // not connected: dropped
    ASSERT_EQ(KvHRInitialize(), 0u);
    const auto events = recorder.Events();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].value, 0u);
    EXPECT_EQ(events[1].value, 1u);
    KvHRUnInitialize();
}

TEST(LifecycleTest, StopBeforeAnyStartSucceedsAndOnlyReleasesTheService)
{
    LogCapture log;
    EXPECT_EQ(KvHRUnInitialize(), 0u);
    EXPECT_FALSE(KvSimService::IsConnected());
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(KvHRUnInitialize(), 0u);
}

TEST(LifecycleTest, ServiceFailureIsTheStartResultAndLeavesTheFilterStopped)
{
    KvNotificationRecorder recorder;
    KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder);
    KvSimService::SetCallStatus(KvSimCall::InitializeStatus, 1722);
    EXPECT_EQ(KvHRInitialize(), 1722u);
    EXPECT_TRUE(recorder.Events().empty());
    EXPECT_FALSE(KvSimService::HasHandler());

    // Not started, so a later start is not refused as a second one.
    KvSimService::SetCallStatus(KvSimCall::InitializeStatus, 0);
    EXPECT_EQ(KvHRInitialize(), 0u);
    EXPECT_EQ(recorder.Events().size(), 1u);
    EXPECT_EQ(KvHRUnInitialize(), 0u);
}

TEST(MemoryExportsTest, AllocateTagsBlocksAndFreeReturnsThem)
{
    void* untagged = KvHRAllocate(32, nullptr);
    void* tagged = KvHRAllocate(8, TEXT("MyTag"));
    ASSERT_NE(untagged, nullptr);
    ASSERT_NE(tagged, nullptr);
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("KvSCAllocate")), 1u);
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("MyTag")), 1u);
    EXPECT_EQ(KvHRFree(untagged), 0);
    EXPECT_EQ(KvHRFreeWithTag(tagged, TEXT("AnyTag")), 0);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), 0u);
    EXPECT_EQ(KvHRFree(tagged), 87); // already returned: refused, nothing touched
}

TEST(MemoryExportsTest, ListsHandedOutAreTaggedWithTheExportAndCleared)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    uint32_t* list = reinterpret_cast<uint32_t*>(1);
    uint32_t count = 99;
    EXPECT_EQ(KvHRDirectInputGetVirtualDevicesList(&list, &count), 0u);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(list[0], VIRTUAL_KEYBOARD_ID);
    EXPECT_EQ(list[1], VIRTUAL_MOUSE_ID);
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("KvHRDirectInputGetVirtualDevicesList")), 1u);
    EXPECT_EQ(KvHRFree(list), 0);

    KvSimService::SetVirtualKeyboard(false);
    EXPECT_EQ(KvHRDirectInputGetVirtualDevicesList(&list, &count), 0u);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(list[0], VIRTUAL_MOUSE_ID);
    KvHRFree(list);

    KvSimService::SetVirtualMouse(false);
    list = reinterpret_cast<uint32_t*>(1);
    EXPECT_EQ(KvHRDirectInputGetVirtualDevicesList(&list, &count), 0u);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(KvSimService::LiveBlocks(), 0u);
    EXPECT_EQ(DllAlloc::LiveBlocks(nullptr), 0u);
    KvHRUnInitialize();
}

TEST(MemoryExportsTest, FilteredDevicesAreListedWithTheFilterFlagAndServiceErrorsPassThrough)
{
    ASSERT_EQ(KvHRInitialize(), 0u);
    const _stHidPhysicalInputData caps = {};
    KvSimService::AddFilteredDevice(0, TEXT("Pad"), caps);
    KvSimService::AddFilteredDevice(2, nullptr, caps);
    uint32_t* list = nullptr;
    uint32_t count = 0;
    EXPECT_EQ(KvHRFilterGetDevicesList(&list, &count), 0u);
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(list[0], 0x00FF0000u);
    EXPECT_EQ(list[1], 0x00FF0002u);
    EXPECT_EQ(DllAlloc::LiveBlocks(TEXT("KvHRFilterGetDevicesList")), 1u);
    KvHRFree(list);

    LogCapture log;
    KvSimService::SetCallStatus(KvSimCall::GetSelectedDevices, 1460);
    list = reinterpret_cast<uint32_t*>(1);
    count = 5;
    EXPECT_EQ(KvHRFilterGetDevicesList(&list, &count), 1460u);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0u);
    ASSERT_EQ(log.Lines().size(), 1u);
    EXPECT_EQ(log.Lines()[0].rfind(W("VERIFY(hRes) failed in \"KvHidRaw\" at line "), 0), 0u);
    EXPECT_NE(log.Lines()[0].find(W(" function KvHRFilterGetDevicesList HRESULT:0x000005b4")), WString::npos);
    EXPECT_EQ(KvSimService::LiveBlocks(), 0u);
    KvHRUnInitialize();
}
