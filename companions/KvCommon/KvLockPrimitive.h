// The re-entrant primitive behind CLock: one owner thread at a time, with a hold count.
#pragma once

#include "KvCommon.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

struct KvLockPrimitive
{
    KvLockPrimitive(const char* lockName, enLockType_t lockType)
        : name(lockName ? lockName : ""), type(lockType)
    {
    }

    // Takes one hold, waiting at most timeoutMs when another thread owns the primitive.
    bool Acquire(DWORD timeoutMs);
    // Drops one hold of the calling thread; false when it has none.
    bool Release();
    bool OwnedByCurrentThread();
    // Marks holds of the calling owner as kept past their holder (KeepLockedOnRelease).
    void Keep(unsigned holds);
    // Hands one kept hold of the calling thread to a new holder; false when this thread kept none.
    bool AdoptKept();
    // Threads waiting in Acquire.
    unsigned Waiting();
    // Whether a thread other than the caller holds the primitive.
    bool OwnedByOtherThread();

    const std::string name;
    const enLockType_t type;

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    std::thread::id m_owner;
    unsigned m_count = 0;
    unsigned m_kept = 0; // holds of the owner that no holder has any more
    unsigned m_waiting = 0;
};
