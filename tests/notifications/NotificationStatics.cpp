// The class-wide data of the notification object, defined here as the library defines it with its other
// globals, so that the tests can run the object on its own.
#include "KvDevNotifications.h"

KVLOCK CKvDevNotifications::m_hWindowAssociation = CKvDevNotifications::CreateWindowAssociationLock();
_stWindowAssociation CKvDevNotifications::m_windowAssociations[CKvDevNotifications::MAX_WINDOW_ASSOCIATIONS] =
    {};
LONG CKvDevNotifications::m_instanceCount = 0;
