// The state of the simulated service and its notification thread.
#pragma once

#include "KvSimService.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class KvServiceState
{
public:
    static KvServiceState& Instance();
    ~KvServiceState();

    struct FilteredDevice
    {
        DWORD id;
        bool hasName;
        std::basic_string<WCHAR> name;
        _stHidPhysicalInputData caps;
    };

    std::mutex mutex;
    DWORD callStatus[static_cast<int>(KvSimCall::Count)] = {};
    bool scriptRunning = false;
    bool virtualKeyboard = true;
    bool virtualMouse = true;
    std::vector<FilteredDevice> devices;
    unsigned dropped = 0;
    unsigned delivered = 0;
    // Situations of a service that tests play (see KvSimService.h).
    unsigned notificationThreads = 1;
    bool ignoreCapacity = false;
    std::function<void()> answerHooks[static_cast<int>(KvSimCall::Count)];

    DWORD Status(KvSimCall call);
    DWORD Connect();
    void Disconnect();
    void SetHandler(KvSCNotificationHandler handler, void* context);
    bool Connected();
    bool HasHandler();
    void Post(DWORD code, DWORD param, const void* data, size_t size);
    bool WaitIdle(DWORD timeoutMs);
    unsigned Queued();
    // Runs the hook a test set for the call, after the call has answered and outside the state's mutex.
    void AfterAnswer(KvSimCall call);

    void SetStopWait(DWORD milliseconds);
    bool WaitStopWaiting(DWORD timeoutMs);
    void Hold(KvSimCall call, bool hold);
    bool WaitHeld(KvSimCall call, DWORD timeoutMs);

    // Blocks handed to the caller, returned through KvSCFree.
    void* HandOut(const void* source, size_t bytes);
    DWORD Free(void* block);
    unsigned LiveBlocks();

private:
    struct Notification
    {
        DWORD code;
        DWORD param;
        std::vector<unsigned char> data;
    };

    void Run(unsigned generation);
    void ApplyScenarioLocked();
    void StopThreads(std::unique_lock<std::mutex>& guard);

    std::condition_variable m_wake;
    std::condition_variable m_idle; // also signals changes of the stops and calls that wait
    std::condition_variable m_unheld;
    bool m_held[static_cast<int>(KvSimCall::Count)] = {};
    unsigned m_waitingInHold[static_cast<int>(KvSimCall::Count)] = {};
    unsigned m_stopsWaiting = 0; // stops waiting for a notification that is being delivered
    std::chrono::milliseconds m_stopWait{10000};
    std::deque<Notification> m_queue;
    bool m_connected = false;
    bool m_scenarioRead = false; // the process's scenario is read at its first connection only
    unsigned m_delivering = 0;   // notifications being delivered right now, on any thread
    unsigned m_generation = 0;   // a thread serves while the generation it started with is current
    unsigned m_runningThreads = 0;
    unsigned m_startedThreads = 0; // threads of the current generation that have started
    std::vector<std::thread> m_threads;
    KvSCNotificationHandler m_handler = nullptr;
    void* m_context = nullptr;
    std::set<void*> m_blocks;
};
