#include "KvCommon.h"
#include "KvLockPrimitive.h"

#include <mutex>
#include <set>

namespace
{
// Every live primitive, so that a primitive a library forgets to delete stays visible (and reachable)
// after the library is unloaded.
struct PrimitiveRegistry
{
    std::mutex mutex;
    std::set<KvLockPrimitive*> live;
};

PrimitiveRegistry& Primitives()
{
    // Never destroyed: it must outlive every library's static teardown and the leak check at exit.
    static PrimitiveRegistry* registry = new PrimitiveRegistry;
    return *registry;
}

constexpr ULONG kWaitTimeout = 258; // WAIT_TIMEOUT
constexpr ULONG kInvalidHandle = 6; // ERROR_INVALID_HANDLE
constexpr ULONG kNotOwner = 288;    // ERROR_NOT_OWNER
} // namespace

LONG CLock::CreateLockPrimitiveEx(KVLOCK* primitive, const char* name, enLockType_t type)
{
    *primitive = new KvLockPrimitive(name, type);
    std::lock_guard<std::mutex> guard(Primitives().mutex);
    Primitives().live.insert(*primitive);
    return 0;
}

void CLock::DeleteLockPrimitive(KVLOCK* primitive)
{
    if (*primitive == nullptr)
        return;
    if ((*primitive)->OwnedByOtherThread())
    {
        // The holder is still running (an unload that gave up waiting for it): the primitive stays
        // allocated, out of reach of new holders, so the holder's release finds no primitive instead of
        // freed memory.
        KvDebugLog(TEXT("CLock: \"%hs\" is held by another thread; left allocated\n"),
                   (*primitive)->name.c_str());
        *primitive = nullptr;
        return;
    }
    if ((*primitive)->OwnedByCurrentThread())
        KvDebugLog(TEXT("CLock: \"%hs\" deleted while held\n"), (*primitive)->name.c_str());
    {
        std::lock_guard<std::mutex> guard(Primitives().mutex);
        Primitives().live.erase(*primitive);
    }
    delete *primitive;
    *primitive = nullptr;
}

ULONG CLock::LivePrimitives()
{
    std::lock_guard<std::mutex> guard(Primitives().mutex);
    return static_cast<ULONG>(Primitives().live.size());
}

ULONG CLock::WaitingFor(const char* lockName)
{
    std::lock_guard<std::mutex> guard(Primitives().mutex);
    ULONG waiting = 0;
    for (KvLockPrimitive* primitive : Primitives().live)
        if (primitive->name == lockName)
            waiting += primitive->Waiting();
    return waiting;
}

bool CLock::IsOwnedByCurrentThread(KVLOCK* primitive)
{
    return *primitive != nullptr && (*primitive)->OwnedByCurrentThread();
}

CLock::CLock(KVLOCK* primitive, const char* operation, bool adoptHold, bool lockNow, DWORD timeoutMs)
    : m_primitive(primitive), m_operation(operation), m_holds(0), m_keep(false)
{
    if (adoptHold)
    {
        // Only a hold that this thread kept with KeepLockedOnRelease: a hold of an enclosing holder
        // still belongs to that holder.
        if (*primitive != nullptr && (*primitive)->AdoptKept())
            m_holds = 1;
        else
            KvDebugLog(TEXT("CLock: \"%hs\" has no hold to adopt\n"), operation);
    }
    else if (lockNow)
    {
        Lock(operation, timeoutMs);
    }
}

CLock::~CLock()
{
    if (m_keep)
    {
        if (m_holds != 0 && *m_primitive != nullptr)
            (*m_primitive)->Keep(m_holds);
        return;
    }
    while (m_holds != 0)
    {
        if (UnLock() != 0)
        {
            KvDebugLog(TEXT("CLock: \"%hs\" could not release %u hold(s)\n"), m_operation, m_holds);
            return;
        }
    }
}

ULONG CLock::Lock(const char* operation, DWORD timeoutMs)
{
    KvLockPrimitive* lock = *m_primitive;
    if (lock == nullptr)
    {
        KvDebugLog(TEXT("CLock: \"%hs\" has no lock primitive\n"), operation);
        return kInvalidHandle;
    }
    if (!lock->Acquire(timeoutMs))
    {
        if (timeoutMs != 0)
            KvDebugLog(TEXT("CLock: \"%hs\" gave up waiting for \"%hs\" after %u ms\n"), operation,
                       lock->name.c_str(), timeoutMs);
        return kWaitTimeout;
    }
    ++m_holds;
    return 0;
}

ULONG CLock::UnLock()
{
    if (m_holds == 0 || *m_primitive == nullptr || !(*m_primitive)->Release())
        return kNotOwner;
    --m_holds;
    return 0;
}

void CLock::KeepLockedOnRelease(bool keep)
{
    m_keep = keep;
}
