// Tells the window manager when a thread that used user32 ends.
//
// A POSIX thread-specific key whose destructor ends the thread's queue: its windows are destroyed
// and sends waiting for it fail, as on Windows. The key (not a C++ thread_local destructor) is used
// so that nothing of winport stays registered for thread exit once winport is unloaded: the key is
// deleted then.
//
// A thread's key destructor runs after the thread's routine has returned, possibly after a waiter
// saw the thread handle signalled. A thread runner that signals its handle itself (kernel32's
// CreateThread) should call winport::user32::EndThreadQueue() after the routine and before
// signalling, so that the windows are gone once WaitForSingleObject on the thread returns.
#pragma once

#include <pthread.h>

namespace winport::user32
{

class ThreadQueue;

class ThreadExitWatch
{
public:
    static ThreadExitWatch& Instance();
    ~ThreadExitWatch();

    // Watches the calling thread for its queue (null: stops watching it).
    void Watch(ThreadQueue* queue);

private:
    ThreadExitWatch();
    static void OnThreadExit(void* queue);

    pthread_key_t m_key;
    bool m_valid;
};

// Ends the calling thread's user32 state now (no-op if it has none).
void EndThreadQueue();

} // namespace winport::user32
