// The library's view of device arrival and removal: a message-only window on a thread of its own.
#pragma once

#include <windows.h>

#include "KvCommon.h"

class CKvDevNotifications;

struct _stWindowAssociation
{
    HWND hWnd; // null marks a free entry
    CKvDevNotifications* pInstance;
};

class CKvDevNotifications
{
public:
    static const int MAX_WINDOW_ASSOCIATIONS = 8;

    CKvDevNotifications();
    ~CKvDevNotifications();
    CKvDevNotifications(const CKvDevNotifications&) = delete;
    CKvDevNotifications& operator=(const CKvDevNotifications&) = delete;

    void Initialize();
    void UnInitialize();
    bool IsInitialized() const { return m_bInitialized; }

    // Class-wide data, created when the library is loaded (before any instance).
    static KVLOCK CreateWindowAssociationLock();
    static KVLOCK m_hWindowAssociation;
    static _stWindowAssociation m_windowAssociations[MAX_WINDOW_ASSOCIATIONS];
    static LONG m_instanceCount;

private:
    bool m_bInitialized;
};
