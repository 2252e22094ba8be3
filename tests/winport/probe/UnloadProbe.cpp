// A library that uses winport the way KvHidRaw does (a timer queue with a periodic timer, a thread
// started suspended, an event, a device handle) and tears it all down when it is unloaded, unless
// told to leak. test_machine_unload loads and unloads it.
#include <windows.h>

namespace
{

class Probe
{
public:
    void Start(const char16_t* devicePath)
    {
        queue_ = CreateTimerQueue();
        CreateTimerQueueTimer(&timer_, queue_, Tick, this, 0, 5, WT_EXECUTEINTIMERTHREAD);
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Run, this, CREATE_SUSPENDED, nullptr);
        SetThreadPriority(thread_, THREAD_PRIORITY_TIME_CRITICAL);
        ResumeThread(thread_);
        if (devicePath != nullptr)
            device_ = CreateFileW(devicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }

    ~Probe()
    {
        if (!leak_)
            Stop();
    }

    void Stop()
    {
        if (queue_ == nullptr)
            return;
        DeleteTimerQueueEx(queue_, INVALID_HANDLE_VALUE);
        queue_ = nullptr;
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        CloseHandle(stop_);
        if (device_ != INVALID_HANDLE_VALUE)
            CloseHandle(device_);
    }

    bool leak_ = false;
    volatile LONG ticks_ = 0;

private:
    static VOID CALLBACK Tick(PVOID self, BOOLEAN)
    {
        InterlockedIncrement(&static_cast<Probe*>(self)->ticks_);
    }
    static DWORD WINAPI Run(LPVOID self)
    {
        WaitForSingleObject(static_cast<Probe*>(self)->stop_, INFINITE);
        return 0;
    }

    HANDLE queue_ = nullptr;
    HANDLE timer_ = nullptr;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
    HANDLE device_ = INVALID_HANDLE_VALUE;
};

Probe probe;

} // namespace

extern "C" void ProbeStart(const char16_t* devicePath, bool leak)
{
    probe.leak_ = leak;
    probe.Start(devicePath);
}

extern "C" LONG ProbeTicks()
{
    return InterlockedCompareExchange(&probe.ticks_, 0, 0);
}

extern "C" void ProbeStop()
{
    probe.Stop();
}
