// CreateFileW and ReadFile on device interfaces: overlapped and synchronous reads, the per-handle
// report queue, cancellation, removal, and the HidD_* functions.
#include <hidsdi.h>
#include <windows.h>

#include "TestDescriptors.h"
#include "WaitUntil.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

using winport::machine::HidDeviceDescription;
using winport::machine::Machine;
using winport::machine::Removal;

namespace
{

class DeviceReads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        HidDeviceDescription description;
        description.reportDescriptor = GamePadDescriptor();
        device = Machine::Instance().PlugDevice(description);
        ASSERT_NE(device, 0u);
        path = Machine::Instance().InterfacePaths(device).at(0);
        event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }
    void TearDown() override { CloseHandle(event); }

    HANDLE Open(DWORD flags = FILE_FLAG_OVERLAPPED)
    {
        return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    }
    void Send(uint8_t x)
    {
        uint8_t report[4] = {0, 0x01, x, 0x80};
        ASSERT_TRUE(Machine::Instance().SendInputReport(device, report, sizeof report));
    }
    // Starts an overlapped read that must stay pending.
    void StartPendingRead(HANDLE file)
    {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event;
        DWORD read = 77;
        ASSERT_FALSE(ReadFile(file, buffer.data(), 4, &read, &overlapped));
        ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
        EXPECT_EQ(read, 0u);
    }

    uint32_t device = 0;
    std::u16string path;
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    std::array<BYTE, 4> buffer{};
};

TEST_F(DeviceReads, OverlappedReadPendsThenCompletesThroughTheEvent)
{
    HANDLE file = Open();
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    StartPendingRead(file);
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    Send(0x42);
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(file, &overlapped, &bytes, FALSE));
    EXPECT_EQ(bytes, 4u);
    EXPECT_EQ(buffer, (std::array<BYTE, 4>{0, 0x01, 0x42, 0x80}));
    CloseHandle(file);
}

TEST_F(DeviceReads, QueuedReportCompletesTheReadAtOnceAndInOrder)
{
    HANDLE file = Open();
    for (uint8_t x = 1; x <= 5; ++x)
        Send(x);
    for (uint8_t x = 1; x <= 5; ++x)
    {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event;
        DWORD read = 0;
        ASSERT_TRUE(ReadFile(file, buffer.data(), 4, &read, &overlapped));
        EXPECT_EQ(read, 4u);
        EXPECT_EQ(buffer[2], x);
        EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0); // set even when done at once
    }
    CloseHandle(file);
}

TEST_F(DeviceReads, FullQueueDropsTheOldestReportsAndCountsThem)
{
    HANDLE file = Open();
    for (int x = 1; x <= 40; ++x)
        Send(static_cast<uint8_t>(x));
    EXPECT_EQ(Machine::Instance().GetDeviceStats(device).reportsDropped, 8u);
    overlapped.hEvent = event;
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(file, buffer.data(), 4, &read, &overlapped));
    EXPECT_EQ(buffer[2], 9);
    CloseHandle(file);
}

TEST_F(DeviceReads, EachHandleGetsEveryReport)
{
    HANDLE first = Open();
    HANDLE second = Open();
    Send(7);
    for (HANDLE file : {first, second})
    {
        overlapped = OVERLAPPED{};
        overlapped.hEvent = event;
        DWORD read = 0;
        EXPECT_TRUE(ReadFile(file, buffer.data(), 4, &read, &overlapped));
        EXPECT_EQ(buffer[2], 7);
    }
    CloseHandle(first);
    CloseHandle(second);
}

TEST_F(DeviceReads, ClosingTheHandleCompletesThePendingRead)
{
    HANDLE file = Open();
    StartPendingRead(file);
    CloseHandle(file);
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    DWORD bytes = 1;
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &bytes, FALSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(Machine::Instance().GetDeviceStats(device).openHandles, 0);
}

TEST_F(DeviceReads, CancelIoAbortsThisThreadsReads)
{
    HANDLE file = Open();
    StartPendingRead(file);
    EXPECT_TRUE(CancelIo(file));
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    // The next report is not lost to the cancelled read.
    Send(3);
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    EXPECT_TRUE(ReadFile(file, buffer.data(), 4, nullptr, &overlapped));
    EXPECT_EQ(buffer[2], 3);
    CloseHandle(file);
}

// CancelIoEx reaches the reads of another thread (which stays alive: a thread's end takes its reads with
// it): with a read's OVERLAPPED only that read, with none every read of the handle; with nothing to
// cancel it fails.
TEST_F(DeviceReads, CancelIoExAbortsAnotherThreadsReads)
{
    HANDLE file = Open();
    HANDLE otherEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE readsIssued = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE testDone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED other = {};
    other.hEvent = otherEvent;
    std::array<uint8_t, 4> otherBuffer{};
    std::thread reader(
        [&]
        {
            StartPendingRead(file);
            EXPECT_FALSE(ReadFile(file, otherBuffer.data(), 4, nullptr, &other));
            SetEvent(readsIssued);
            WaitForSingleObject(testDone, 30000);
        });
    ASSERT_EQ(WaitForSingleObject(readsIssued, 10000), WAIT_OBJECT_0);

    EXPECT_TRUE(CancelIoEx(file, &overlapped));
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(GetOverlappedResult(file, &other, &bytes, FALSE)) << "the other read is still pending";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_INCOMPLETE));

    EXPECT_FALSE(CancelIoEx(file, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
    EXPECT_TRUE(CancelIoEx(file, nullptr));
    EXPECT_FALSE(GetOverlappedResult(file, &other, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OPERATION_ABORTED));
    EXPECT_FALSE(CancelIoEx(file, nullptr)) << "nothing left to cancel";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));

    SetEvent(testDone);
    reader.join();
    for (HANDLE handle : {otherEvent, readsIssued, testDone, file})
        CloseHandle(handle);
}

TEST_F(DeviceReads, SurpriseRemovalFailsPendingAndLaterReads)
{
    HANDLE file = Open();
    StartPendingRead(file);
    Machine::Instance().UnplugDevice(device, Removal::Surprise);
    EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    overlapped = OVERLAPPED{};
    overlapped.hEvent = event;
    EXPECT_FALSE(ReadFile(file, buffer.data(), 4, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_FALSE(Machine::Instance().SendInputReport(device, buffer.data(), 4));
    EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(CloseHandle(file));
}

TEST_F(DeviceReads, OrderlyRemovalWithTheHandleStillOpenFailsItsPendingRead)
{
    HANDLE file = Open();
    StartPendingRead(file);
    ASSERT_TRUE(Machine::Instance().UnplugDevice(device, Removal::Orderly));
    EXPECT_FALSE(Machine::Instance().UnplugDevice(device, Removal::Orderly)); // already gone
    DWORD bytes = 0;
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &bytes, TRUE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_EQ(Machine::Instance().InterfacePaths(device).size(), 1u); // its paths stay known
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_EQ(Machine::Instance().GetDeviceStats(device).openHandles, 0);
}

TEST_F(DeviceReads, SynchronousHandleBlocksUntilAReportArrives)
{
    HANDLE file = Open(0);
    std::atomic<bool> done{false};
    DWORD read = 0;
    BOOL ok = FALSE;
    std::thread reader(
        [&]
        {
            ok = ReadFile(file, buffer.data(), 4, &read, nullptr);
            done = true;
        });
    EXPECT_FALSE(WaitUntil([&] { return done.load(); }, std::chrono::milliseconds(50)));
    Send(9);
    reader.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(buffer[2], 9);
    CloseHandle(file);
}

TEST_F(DeviceReads, BadReadsFailWithTheirLastErrors)
{
    HANDLE file = Open();
    overlapped.hEvent = event;
    EXPECT_FALSE(ReadFile(file, buffer.data(), 3, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_USER_BUFFER));
    EXPECT_FALSE(ReadFile(file, buffer.data(), 4, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    HANDLE noAccess = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_FALSE(ReadFile(noAccess, buffer.data(), 4, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ReadFile(reinterpret_cast<HANDLE>(0x7770), buffer.data(), 4, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(noAccess);
    CloseHandle(file);
}

TEST_F(DeviceReads, OpensFailOnUnknownPathsAndInjectedFailures)
{
    EXPECT_EQ(CreateFileW(u"\\\\?\\hid#nothing", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    Machine::Instance().SetOpenFailure(device, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    Machine::Instance().SetOpenFailure(device, 0);
    // Paths compare without regard to case.
    std::u16string upper = path;
    _wcsupr(&upper[0]);
    HANDLE file = CreateFileW(upper.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
}

TEST(DeviceInterfaces, ReportsGoToTheCollectionOfTheirReportId)
{
    HidDeviceDescription description;
    description.reportDescriptor = TwoCollectionDescriptor();
    uint32_t device = Machine::Instance().PlugDevice(description);
    auto paths = Machine::Instance().InterfacePaths(device);
    ASSERT_EQ(paths.size(), 2u);
    HANDLE pad =
        CreateFileW(paths[0].c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    HANDLE consumer =
        CreateFileW(paths[1].c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    uint8_t volume[3] = {2, 10, 20};
    ASSERT_TRUE(Machine::Instance().SendInputReport(device, volume, 3));
    uint8_t unknownId[2] = {9, 0};
    EXPECT_FALSE(Machine::Instance().SendInputReport(device, unknownId, 2));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    BYTE buffer[8] = {};
    EXPECT_FALSE(ReadFile(pad, buffer, sizeof buffer, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    CancelIo(pad);
    OVERLAPPED second{};
    second.hEvent = event;
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(consumer, buffer, sizeof buffer, &read, &second));
    EXPECT_EQ(read, 3u);
    EXPECT_EQ(buffer[0], 2);
    EXPECT_EQ(buffer[2], 20);
    CloseHandle(pad);
    CloseHandle(consumer);
    CloseHandle(event);
}

TEST(DeviceInterfaces, KeyboardsRefuseReadOpensButAnswerAttributes)
{
    HidDeviceDescription description;
    description.reportDescriptor = KeyboardDescriptor();
    description.vendorId = 0x046d;
    description.productId = 0xc31c;
    description.versionNumber = 0x6400;
    uint32_t device = Machine::Instance().PlugDevice(description);
    auto path = Machine::Instance().InterfacePaths(device).at(0);
    EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE file = CreateFileW(path.c_str(), 0, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HIDD_ATTRIBUTES attributes{};
    attributes.Size = sizeof attributes;
    ASSERT_TRUE(HidD_GetAttributes(file, &attributes));
    EXPECT_EQ(attributes.VendorID, 0x046d);
    EXPECT_EQ(attributes.ProductID, 0xc31c);
    EXPECT_EQ(attributes.VersionNumber, 0x6400);
    CloseHandle(file);
}

TEST(DeviceInterfaces, PreparsedDataDescribesTheCollectionAndIsFreedOnce)
{
    HidDeviceDescription description;
    description.reportDescriptor = GamePadDescriptor();
    uint32_t device = Machine::Instance().PlugDevice(description);
    auto path = Machine::Instance().InterfacePaths(device).at(0);
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, nullptr);
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    ASSERT_TRUE(HidD_GetPreparsedData(file, &preparsed));
    HIDP_CAPS caps{};
    ASSERT_EQ(HidP_GetCaps(preparsed, &caps), HIDP_STATUS_SUCCESS);
    EXPECT_EQ(caps.UsagePage, 0x01);
    EXPECT_EQ(caps.Usage, 0x05);
    EXPECT_EQ(caps.InputReportByteLength, 4);
    EXPECT_TRUE(HidD_FreePreparsedData(preparsed));
    EXPECT_FALSE(HidD_GetPreparsedData(reinterpret_cast<HANDLE>(0x7770), &preparsed));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    Machine::Instance().UnplugDevice(device, Removal::Surprise);
    HIDD_ATTRIBUTES attributes{};
    EXPECT_FALSE(HidD_GetAttributes(file, &attributes));
    EXPECT_FALSE(HidD_GetPreparsedData(file, &preparsed));
    CloseHandle(file);
    EXPECT_EQ(Machine::Instance().QueryOpenResources().HandleCount(), 0);
}

} // namespace

namespace
{

// A process may end with a read still pending on an open handle, as a library that never stops
// does; the machine's teardown must free it (LeakSanitizer checks at exit).
TEST_F(DeviceReads, AReadLeftPendingAtExitIsFreed)
{
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    static OVERLAPPED overlapped{};
    static BYTE buffer[4];
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, nullptr, &overlapped));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
    EXPECT_EQ(Machine::Instance().GetDeviceStats(device).openHandles, 1);
}

} // namespace

namespace
{

// Reports sent as fast as possible while a reader loops on overlapped reads: every report is either
// read, in order, or counted as dropped by the full queue; none is lost or reordered.
TEST_F(DeviceReads, ConcurrentReportsArriveInOrderOrAreCountedAsDropped)
{
    HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    constexpr int kReports = 20000;
    std::vector<int> seen;
    std::thread reader(
        [&]
        {
            BYTE buffer[4];
            for (;;)
            {
                OVERLAPPED overlapped{};
                overlapped.hEvent = event;
                if (!ReadFile(file, buffer, 4, nullptr, &overlapped))
                {
                    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
                    ASSERT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
                    DWORD bytes = 0;
                    if (!GetOverlappedResult(file, &overlapped, &bytes, FALSE))
                        return; // the handle was closed: the end of the run
                }
                int sequence = buffer[2] | (buffer[3] << 8);
                seen.push_back(sequence);
                if (sequence == kReports - 1)
                    return;
            }
        });
    for (int i = 0; i < kReports; ++i)
    {
        uint8_t report[4] = {0, 0, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
        ASSERT_TRUE(Machine::Instance().SendInputReport(device, report, 4));
    }
    reader.join();
    CloseHandle(file);
    CloseHandle(event);
    ASSERT_FALSE(seen.empty());
    for (size_t i = 1; i < seen.size(); ++i)
        ASSERT_LT(seen[i - 1], seen[i]) << "at " << i;
    EXPECT_EQ(seen.back(), kReports - 1); // the newest report is never the one dropped
    EXPECT_EQ(seen.size() + Machine::Instance().GetDeviceStats(device).reportsDropped,
              static_cast<size_t>(kReports));
}

} // namespace

namespace
{

// A handle closed while its reader is between calls or inside ReadFile: the reader always gets an
// answer (a completed read or a refused one), never a read left pending forever.
TEST_F(DeviceReads, ClosingDuringReadsNeverStrandsTheReader)
{
    for (int round = 0; round < 1000; ++round)
    {
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_READ, 3, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        std::atomic<bool> stranded{false};
        std::atomic<int> reads{0};
        std::thread reader(
            [&]
            {
                BYTE buffer[4];
                for (;;)
                {
                    OVERLAPPED overlapped{};
                    overlapped.hEvent = event;
                    ++reads;
                    if (!ReadFile(file, buffer, 4, nullptr, &overlapped))
                    {
                        if (GetLastError() != ERROR_IO_PENDING)
                            return;
                        if (WaitForSingleObject(event, 10000) != WAIT_OBJECT_0)
                        {
                            stranded = true;
                            return;
                        }
                        DWORD bytes = 0;
                        if (!GetOverlappedResult(file, &overlapped, &bytes, FALSE))
                            return;
                    }
                }
            });
        uint8_t report[4] = {0, 1, 2, 3};
        for (int i = 0; i < round % 7; ++i)
            Machine::Instance().SendInputReport(device, report, 4);
        ASSERT_TRUE(WaitUntil([&] { return reads.load() > 0; }));
        CloseHandle(file);
        reader.join();
        CloseHandle(event);
        ASSERT_FALSE(stranded.load()) << "round " << round;
    }
}

} // namespace
