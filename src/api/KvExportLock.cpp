#include "KvExportLock.h"

#include "KvCallbackScope.h"
#include "KvGlobals.h"

CKvExportLock::CKvExportLock(const char* exportName)
{
    if (!CKvCallbackScope::InsideCallback())
        m_hold.emplace(&dllCallLock, exportName, false, true, KV_LOCK_TIMEOUT_MS);
}
