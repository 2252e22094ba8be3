// The other two sources: a filtered device's delivery and the virtual devices' timer ticks, each next to the
// platform's own share measured in the same run.
//  - Filtered: the same inputs pushed through the simulated service with polling on (delivered) and off (the
//    library takes each notification, finds the device and drops the input); the difference is what a
//    delivery adds. Allocations called from the library's own code are counted apart, exactly.
//  - Virtual: the timer thread's CPU and the process's allocations per 120 ms period with both devices polled
//    and nothing pressed, against a timer queue of our own with two empty callbacks of the same period,
//    alternated; then with keys typed, polling on against polling off.
#include "AllocationCount.h"
#include "BenchClock.h"
#include "DeviceMeasures.h"
#include "ThreadCpu.h"

#include "KvHidRaw.h"
#include "KvSimService.h"
#include "machine/DesktopControl.h"

#include <atomic>
#include <cstring>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace
{
constexpr DWORD kFilteredId = 1;
constexpr int64_t kPeriodNs = 120000000;

pid_t OwnTid()
{
    return static_cast<pid_t>(syscall(SYS_gettid));
}

// 12 buttons, X, Y and one hat: 15 records a delivery.
_stHidPhysicalInputData PadCaps()
{
    _stHidPhysicalInputData caps;
    std::memset(&caps, 0, sizeof caps);
    for (int i = 0; i < 12; ++i)
        caps.buttons[i] = 1;
    caps.axes[0] = {0, 0, 255};
    caps.axes[1] = {0, -128, 127};
    caps.hats[0] = {0, 0, 7};
    caps.buttonCount = 12;
    caps.axisCount = 2;
    caps.hatCount = 1;
    return caps;
}

struct Receiver
{
    std::atomic<uint64_t> calls{0};
    std::atomic<pid_t> tid{0};

    static void KVHR_CALL Values(void* context, const _stHidValue*, uint32_t)
    {
        Receiver* self = static_cast<Receiver*>(context);
        self->tid.store(OwnTid(), std::memory_order_relaxed);
        self->calls.fetch_add(1, std::memory_order_release);
    }
    static void CALLBACK Tick(PVOID context, BOOLEAN) { Values(context, nullptr, 0); }
};

// Process-wide and library-code allocations over one stretch of work.
struct AllocationSpan
{
    uint64_t all = AllocationCount(), library = WatchedAllocationCount();
    uint64_t All() const { return AllocationCount() - all; }
    uint64_t Library() const { return WatchedAllocationCount() - library; }
};

// Pushes the inputs one at a time, each taken before the next (the service copies every notification).
void PushInputs(int inputs)
{
    _stHidInputData input;
    std::memset(&input, 0, sizeof input);
    for (int i = 0; i < inputs; ++i)
    {
        input.buttons[i % 12] = uint8_t(i);
        input.axes[0].value = uint32_t(i & 0xFF);
        KvSimService::PushInput(kFilteredId, input);
        while (KvSimService::QueuedNotifications() > 4)
            std::this_thread::yield();
    }
    KvSimService::WaitIdle(10000);
}

// Presses and releases keys for the stretch, one pair every 10 ms.
void TypeFor(int64_t ns)
{
    const int64_t end = NowNs() + ns;
    for (int64_t next = NowNs(); next < end; next += 10000000)
    {
        winport::machine::PressKey(0x1E);
        winport::machine::ReleaseKey(0x1E);
        SleepUntilNs(next + 10000000);
    }
}

struct TimerWindow
{
    int64_t cpuNs = 0;
    uint64_t allocations = 0, libraryAllocations = 0;
};

TimerWindow QuietWindow(pid_t timerThread, int64_t ns)
{
    SleepUntilNs(NowNs() + 2 * kPeriodNs); // what the start of the window set going has settled
    const AllocationSpan span;
    const int64_t cpu0 = ThreadCpuNs(timerThread);
    SleepUntilNs(NowNs() + ns);
    return {ThreadCpuNs(timerThread) - cpu0, span.All(), span.Library()};
}
} // namespace

FilteredFigures MeasureFilteredDeliveries(int inputs)
{
    FilteredFigures f;
    f.inputs = inputs;
    KvSimService::AddFilteredDevice(kFilteredId, TEXT("Bench pad"), PadCaps());
    Receiver receiver;
    const uint32_t id = kFilteredId | FILTERED_DEVICE_FLAG;
    KvHRSetReadDeviceValuesCallback(id, &Receiver::Values, &receiver);
    PushInputs(100); // warm: the service's queue and the first deliveries' lazy set-up
    for (int round = 0; round < 2; ++round)
    {
        KvHRSetPolling(id, 1);
        const uint64_t before = receiver.calls;
        const AllocationSpan delivered;
        PushInputs(inputs);
        f.deliveredAllocations += delivered.All();
        f.libraryCodeAllocations += delivered.Library();
        f.delivered += receiver.calls - before;

        KvHRSetPolling(id, 0);
        const AllocationSpan dropped;
        PushInputs(inputs);
        f.droppedAllocations += dropped.All();
        f.libraryCodeAllocations += dropped.Library();
        f.pushed += 2 * uint64_t(inputs);
    }
    KvHRSetReadDeviceValuesCallback(id, nullptr, nullptr);
    KvSimService::RemoveFilteredDevice(kFilteredId);
    return f;
}

VirtualFigures MeasureVirtualTicks(double windowSeconds, int rounds)
{
    VirtualFigures f;
    f.rounds = rounds;
    f.periods = windowSeconds * 1e9 / kPeriodNs * rounds;
    const int64_t window = static_cast<int64_t>(windowSeconds * 1e9);
    Receiver library, empty;
    KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, &Receiver::Values, &library);
    KvHRSetReadDeviceValuesCallback(VIRTUAL_MOUSE_ID, &Receiver::Values, &library);
    HANDLE queue = CreateTimerQueue();
    for (int round = 0; round < rounds; ++round)
    {
        // The library's two timers: a key typed once shows the thread they run on.
        f.polled = KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1) == 0 && KvHRSetPolling(VIRTUAL_MOUSE_ID, 1) == 0;
        const uint64_t typed = library.calls;
        winport::machine::PressKey(0x1E);
        winport::machine::ReleaseKey(0x1E);
        while (library.calls < typed + 2)
            std::this_thread::yield();
        const TimerWindow lib = QuietWindow(library.tid, window);
        KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 0);

        HANDLE timers[2] = {};
        for (HANDLE& timer : timers)
            CreateTimerQueueTimer(&timer, queue, &Receiver::Tick, &empty, 0, 120, WT_EXECUTEINTIMERTHREAD);
        while (empty.tid == 0)
            std::this_thread::yield();
        const TimerWindow base = QuietWindow(empty.tid, window);
        for (HANDLE timer : timers)
            DeleteTimerQueueTimer(queue, timer, INVALID_HANDLE_VALUE);

        f.libCpuNs += lib.cpuNs;
        f.libAllocations += lib.allocations;
        f.libraryCodeAllocations += lib.libraryAllocations;
        f.emptyCpuNs += base.cpuNs;
        f.emptyAllocations += base.allocations;
    }
    DeleteTimerQueueEx(queue, INVALID_HANDLE_VALUE);

    // Keys typed: polling on (every event delivered) against polling off (the machine's side alone).
    KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 1);
    const uint64_t before = library.calls;
    const AllocationSpan typing;
    TypeFor(window);
    SleepUntilNs(NowNs() + 2 * kPeriodNs); // the last events delivered
    f.typedDeliveries = library.calls - before;
    f.typedAllocations = typing.All();
    f.typedLibraryCodeAllocations = typing.Library();
    KvHRSetPolling(VIRTUAL_KEYBOARD_ID, 0);
    const AllocationSpan unpolled;
    TypeFor(window);
    f.unpolledAllocations = unpolled.All();
    KvHRSetReadDeviceValuesCallback(VIRTUAL_KEYBOARD_ID, nullptr, nullptr);
    KvHRSetReadDeviceValuesCallback(VIRTUAL_MOUSE_ID, nullptr, nullptr);
    return f;
}
