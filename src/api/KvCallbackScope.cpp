#include "KvCallbackScope.h"

namespace
{
// Trivially destructible, so the library can still be unloaded with dlclose.
thread_local unsigned callbackDepth = 0;
} // namespace

CKvCallbackScope::CKvCallbackScope()
{
    ++callbackDepth;
}

CKvCallbackScope::~CKvCallbackScope()
{
    --callbackDepth;
}

bool CKvCallbackScope::InsideCallback()
{
    return callbackDepth != 0;
}
