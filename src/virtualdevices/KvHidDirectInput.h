// The system keyboard and mouse as two virtual devices, read through DirectInput on a timer queue.
#pragma once

#include <windows.h>

#include "KvCommon.h"

class CKvHidDirectInput
{
public:
    CKvHidDirectInput();
    virtual ~CKvHidDirectInput();
    CKvHidDirectInput(const CKvHidDirectInput&) = delete;
    CKvHidDirectInput& operator=(const CKvHidDirectInput&) = delete;

    DWORD Initialize();
    // Deletes the timer queue, if there is one, waiting for running timer callbacks.
    void DeletePollingQueue();
    bool HasTimerQueue() const { return m_hTimerQueue != nullptr; }

private:
    HANDLE m_hTimerQueue;
    KVLOCK m_devLock;
};
