// The library's global objects, all defined in KvHidRaw.cpp in the order of their construction.
#pragma once

#include "KvCommon.h"

class CKvHidDeviceMgmt;
class CKvHidFilterMgmt;
class CKvHidDirectInput;

extern KVLOCK dllCallLock;
extern DWORD dllAttachCount;
extern CKvHidDeviceMgmt hidDeviceMgmt;
extern CKvHidFilterMgmt hidFilterMgmt;
extern CKvHidDirectInput hidDirectInput;
