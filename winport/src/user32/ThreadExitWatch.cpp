#include "src/user32/ThreadExitWatch.h"

#include "src/user32/WindowManager.h"

namespace winport::user32
{

ThreadExitWatch& ThreadExitWatch::Instance()
{
    // Destroyed when winport unloads, which deletes the key.
    static ThreadExitWatch watch;
    return watch;
}

ThreadExitWatch::ThreadExitWatch() : m_valid(pthread_key_create(&m_key, OnThreadExit) == 0) {}

ThreadExitWatch::~ThreadExitWatch()
{
    if (m_valid)
        pthread_key_delete(m_key);
    m_valid = false;
}

void ThreadExitWatch::Watch(ThreadQueue* queue)
{
    if (m_valid)
        pthread_setspecific(m_key, queue);
}

void ThreadExitWatch::OnThreadExit(void* queue)
{
    WindowManager::Instance().ThreadEnded(static_cast<ThreadQueue*>(queue));
}

void EndThreadQueue()
{
    WindowManager::Instance().EndCurrentThread();
}

} // namespace winport::user32
