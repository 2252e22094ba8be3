#include "KvServiceState.h"

#include "KvCommon.h"
#include "KvSimScenario.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace
{
// How long connecting waits for the notification thread to run.
constexpr auto kThreadStartWait = std::chrono::seconds(10);
// The longest a test may hold a call.
constexpr auto kLongestHold = std::chrono::seconds(30);
constexpr DWORD kInvalidParameter = 87; // ERROR_INVALID_PARAMETER

// Set on the service's notification threads (trivially destructible, so the library still unloads).
thread_local bool t_onServiceThread = false;

#if defined(_WIN32)
// The notification thread runs this DLL's code until it has returned; keep the DLL loaded for good so that
// an unload under the loader lock can never pull the code from under it.
void PinModule()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinModule), &self);
}
#endif
} // namespace

#if !defined(_WIN32)
namespace
{
// Constructed when the module loads, so destroyed only after the library, which this module was loaded for,
// has run its teardown and released the service (a state made at its first use went first, and a process
// leaving with the library started aborted on its running notification thread).
KvServiceState serviceState;
} // namespace
#endif

KvServiceState& KvServiceState::Instance()
{
#if defined(_WIN32)
    // Never destroyed on Windows: at process exit the notification thread has been ended inside its wait on
    // the state's condition, and destroying that condition then blocks for good. Once connected the module
    // is pinned anyway, so the state would only go with the process.
    static KvServiceState& state = *new KvServiceState;
    return state;
#else
    return serviceState;
#endif
}

// A process that leaves with the service connected and no library to release it.
KvServiceState::~KvServiceState()
{
    std::unique_lock<std::mutex> guard(mutex);
    m_connected = false;
    StopThreads(guard);
}

DWORD KvServiceState::Status(KvSimCall call)
{
    const int index = static_cast<int>(call);
    std::unique_lock<std::mutex> guard(mutex);
    if (m_held[index])
    {
        ++m_waitingInHold[index];
        m_idle.notify_all();
        m_unheld.wait_for(guard, kLongestHold, [&] { return !m_held[index]; });
        --m_waitingInHold[index];
    }
    return callStatus[index];
}

void KvServiceState::Hold(KvSimCall call, bool hold)
{
    std::lock_guard<std::mutex> guard(mutex);
    m_held[static_cast<int>(call)] = hold;
    m_unheld.notify_all();
}

bool KvServiceState::WaitHeld(KvSimCall call, DWORD timeoutMs)
{
    std::unique_lock<std::mutex> guard(mutex);
    return m_idle.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [&] { return m_waitingInHold[static_cast<int>(call)] != 0; });
}

void KvServiceState::SetStopWait(DWORD milliseconds)
{
    std::lock_guard<std::mutex> guard(mutex);
    m_stopWait = std::chrono::milliseconds(milliseconds);
}

bool KvServiceState::WaitStopWaiting(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> guard(mutex);
    return m_idle.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [this] { return m_stopsWaiting != 0; });
}

DWORD KvServiceState::Connect()
{
    std::unique_lock<std::mutex> guard(mutex);
    if (DWORD status = callStatus[static_cast<int>(KvSimCall::InitializeStatus)])
        return status;
    if (m_connected)
        return 0;
    if (!m_scenarioRead)
        ApplyScenarioLocked();
#if defined(_WIN32)
    PinModule();
#endif
    m_connected = true;
    m_startedThreads = 0;
    const unsigned count = notificationThreads ? notificationThreads : 1;
    for (unsigned i = 0; i < count; ++i)
        m_threads.emplace_back(&KvServiceState::Run, this, m_generation);
    // Wait until the threads run: a thread that has not started yet cannot be stopped from a loader
    // callback on Windows, where starting needs the loader lock.
    m_idle.wait_for(guard, kThreadStartWait, [&] { return m_startedThreads == count; });
    return 0;
}

// The state the process asked for (KvSimScenario.h), if any; a scenario that cannot be read leaves the
// state as it was.
void KvServiceState::ApplyScenarioLocked()
{
    m_scenarioRead = true;
    const char* text = std::getenv(KvSimScenario::kVariable);
    if (text == nullptr)
        return;
    KvSimScenario scenario;
    std::string error;
    if (!KvSimScenario::Parse(text, scenario, error))
    {
        KvDebugLog(TEXT("KvServiceControl: %hs ignored: %hs\n"), KvSimScenario::kVariable, error.c_str());
        return;
    }
    scriptRunning = scenario.scriptRunning;
    devices.clear();
    for (const KvSimScenario::Device& device : scenario.devices)
        devices.push_back({device.id, !device.name.empty(), device.name, device.caps});
}

void KvServiceState::Disconnect()
{
    std::unique_lock<std::mutex> guard(mutex);
    m_connected = false;
    m_handler = nullptr;
    m_context = nullptr;
    dropped += static_cast<unsigned>(m_queue.size());
    m_queue.clear();
    m_idle.notify_all();
    StopThreads(guard);
}

// Ends the notification threads. Waits a bounded time for running notifications, and not at all when
// called from inside a notification: the service's other threads may be waiting for locks that the
// caller holds, so they end after their notifications, as the caller's own thread does.
void KvServiceState::StopThreads(std::unique_lock<std::mutex>& guard)
{
    if (m_threads.empty())
        return;
    ++m_generation;
    m_wake.notify_all();
    std::vector<std::thread> threads = std::move(m_threads);
    m_threads.clear();
    if (t_onServiceThread)
    {
        for (std::thread& t : threads)
            t.detach();
        return;
    }
    const bool waitsForDelivery = m_delivering;
    m_stopsWaiting += waitsForDelivery;
    m_idle.notify_all();
    const bool ended = m_idle.wait_for(guard, m_stopWait, [this] { return m_runningThreads == 0; });
    m_stopsWaiting -= waitsForDelivery;
    if (!ended)
    {
        KvDebugLog(
            TEXT("KvServiceControl: a notification is still running after %u ms; not waiting longer\n"),
            static_cast<unsigned>(m_stopWait.count()));
        for (std::thread& t : threads)
            t.detach();
        return;
    }
#if defined(_WIN32)
    // The threads have left the handler's code; ending them still passes the loader, which an unload
    // holds, so they are not joined. The module is pinned, so the code they still run stays mapped.
    for (std::thread& t : threads)
        t.detach();
#else
    guard.unlock();
    for (std::thread& t : threads)
        t.join();
    guard.lock();
#endif
}

void KvServiceState::SetHandler(KvSCNotificationHandler handler, void* context)
{
    std::lock_guard<std::mutex> guard(mutex);
    m_handler = handler;
    m_context = context;
}

bool KvServiceState::Connected()
{
    std::lock_guard<std::mutex> guard(mutex);
    return m_connected;
}

bool KvServiceState::HasHandler()
{
    std::lock_guard<std::mutex> guard(mutex);
    return m_handler != nullptr;
}

void KvServiceState::Post(DWORD code, DWORD param, const void* data, size_t size)
{
    std::lock_guard<std::mutex> guard(mutex);
    if (!m_connected || m_handler == nullptr)
    {
        ++dropped;
        return;
    }
    Notification n{code, param, {}};
    if (data && size)
        n.data.assign(static_cast<const unsigned char*>(data),
                      static_cast<const unsigned char*>(data) + size);
    m_queue.push_back(std::move(n));
    m_wake.notify_all();
}

bool KvServiceState::WaitIdle(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> guard(mutex);
    return m_idle.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                           [this] { return m_queue.empty() && m_delivering == 0; });
}

unsigned KvServiceState::Queued()
{
    std::lock_guard<std::mutex> guard(mutex);
    return static_cast<unsigned>(m_queue.size());
}

void KvServiceState::Run(unsigned generation)
{
    t_onServiceThread = true;
    std::unique_lock<std::mutex> guard(mutex);
    ++m_runningThreads;
    if (generation == m_generation)
        ++m_startedThreads;
    m_idle.notify_all();
    for (;;)
    {
        m_wake.wait(guard, [&] { return m_generation != generation || !m_queue.empty(); });
        if (m_generation != generation)
            break;
        Notification n = std::move(m_queue.front());
        m_queue.pop_front();
        KvSCNotificationHandler handler = m_handler;
        void* context = m_context;
        if (handler == nullptr)
        {
            ++dropped;
            m_idle.notify_all();
            continue;
        }
        ++m_delivering;
        guard.unlock();
        handler(context, static_cast<_enKvServiceNotification>(n.code), n.param,
                n.data.empty() ? nullptr : n.data.data());
        guard.lock();
        --m_delivering;
        ++delivered;
        m_idle.notify_all();
    }
    --m_runningThreads;
    m_idle.notify_all();
}

void KvServiceState::AfterAnswer(KvSimCall call)
{
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> guard(mutex);
        hook = answerHooks[static_cast<int>(call)];
    }
    if (hook)
        hook();
}

void* KvServiceState::HandOut(const void* source, size_t bytes)
{
    void* block = std::malloc(bytes ? bytes : 1);
    if (block == nullptr)
        return nullptr;
    std::memcpy(block, source, bytes);
    std::lock_guard<std::mutex> guard(mutex);
    m_blocks.insert(block);
    return block;
}

DWORD KvServiceState::Free(void* block)
{
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (m_blocks.erase(block) == 0)
            return kInvalidParameter;
    }
    std::free(block);
    return 0;
}

unsigned KvServiceState::LiveBlocks()
{
    std::lock_guard<std::mutex> guard(mutex);
    return static_cast<unsigned>(m_blocks.size());
}
