// Which exports take the library-wide call lock: an export held inside its service call keeps the lock,
// and the others either wait their turn or, for the handler setter, go by.
#include <gtest/gtest.h>

#include "KvHidRaw.h"
#include "KvNotificationRecorder.h"
#include "KvSimService.h"
#include "KvTestSupport.h"

#include <atomic>
#include <thread>

namespace
{
// KvHRFilterGetDevicesList on a thread of its own, held inside its service call (so holding the call
// lock) until Release.
class HeldExport
{
public:
    HeldExport()
    {
        KvSimService::HoldCall(KvSimCall::GetSelectedDevices, true);
        m_thread = std::thread(
            []
            {
                uint32_t* list = nullptr;
                uint32_t count = 0;
                KvHRFilterGetDevicesList(&list, &count);
                KvHRFree(list);
            });
    }
    ~HeldExport() { Release(); }
    bool Held() { return KvSimService::WaitCallHeld(KvSimCall::GetSelectedDevices, 10000); }
    void Release()
    {
        KvSimService::HoldCall(KvSimCall::GetSelectedDevices, false);
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::thread m_thread;
};

// Runs the export on a thread of its own and reports whether it finished before it waited for the call lock.
class ExportBesideIt
{
public:
    template <typename F>
    explicit ExportBesideIt(F exportCall)
        : m_thread(
              [this, exportCall]
              {
                  exportCall();
                  m_done = true;
              })
    {
    }
    ~ExportBesideIt() { m_thread.join(); }
    // Waits until the export either finished or waits for the call lock; true when it finished.
    bool FinishedWithoutWaiting()
    {
        EXPECT_TRUE(WaitUntil([this] { return m_done || CLock::WaitingFor("&dllCallLock") != 0; }));
        return m_done && CLock::WaitingFor("&dllCallLock") == 0;
    }
    bool Done() const { return m_done; }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};
} // namespace

TEST(CallLockTest, ScriptStateReadWaitsForAnExportThatHoldsTheCallLock)
{
    HeldExport held;
    ASSERT_TRUE(held.Held());
    {
        ExportBesideIt reader(
            []
            {
                uint8_t running = 0;
                KvHRFilterGetScriptRunning(&running);
            });
        EXPECT_FALSE(reader.FinishedWithoutWaiting());
        held.Release();
    }
    EXPECT_EQ(CLock::WaitingFor("&dllCallLock"), 0u);
}

TEST(CallLockTest, SettingTheHandlerDoesNotWaitForTheCallLock)
{
    KvNotificationRecorder recorder;
    HeldExport held;
    ASSERT_TRUE(held.Held());
    {
        ExportBesideIt setter([&]
                              { KvHRSetNotificationHandler(&KvNotificationRecorder::Handler, &recorder); });
        EXPECT_TRUE(setter.FinishedWithoutWaiting());
        held.Release();
    }
}
