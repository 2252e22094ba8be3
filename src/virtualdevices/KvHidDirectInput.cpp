#include "KvHidDirectInput.h"

CKvHidDirectInput::CKvHidDirectInput() : m_hTimerQueue(nullptr), m_devLock(nullptr)
{
    CLock::CreateLockPrimitiveEx(&m_devLock, "&m_devLock", enLockTypeDefault);
}

CKvHidDirectInput::~CKvHidDirectInput()
{
    DeletePollingQueue();
    CLock::DeleteLockPrimitive(&m_devLock);
}

// The timer queue and the DirectInput devices arrive with the virtual-device work; until then there is
// nothing to set up.
DWORD CKvHidDirectInput::Initialize()
{
    return ERROR_SUCCESS;
}

void CKvHidDirectInput::DeletePollingQueue()
{
    if (m_hTimerQueue == nullptr)
        return;
    DeleteTimerQueueEx(m_hTimerQueue, INVALID_HANDLE_VALUE);
    m_hTimerQueue = nullptr;
}
