// The hold of the library-wide call lock "&dllCallLock" for the whole run of an export, named after the
// export. A call made from inside a library callback, on that callback's thread, does not take it again:
// the callback may run while another thread waits in an export for the locks the callback's caller holds.
#pragma once

#include "KvCommon.h"

#include <optional>

class CKvExportLock
{
public:
    explicit CKvExportLock(const char* exportName);
    CKvExportLock(const CKvExportLock&) = delete;
    CKvExportLock& operator=(const CKvExportLock&) = delete;

private:
    std::optional<CLock> m_hold;
};
