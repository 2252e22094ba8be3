// KvCommon: the maker's common library of locks, tagged allocation and debug logging.
#pragma once

#include <windows.h>

#if defined(_WIN32)
#if defined(KVCOMMON_BUILD)
#define KVCOMMON_API __declspec(dllexport)
#else
#define KVCOMMON_API __declspec(dllimport)
#endif
#else
#define KVCOMMON_API __attribute__((visibility("default")))
#endif

// The default timeout of every lock holder.
#define KV_LOCK_TIMEOUT_MS 30000

typedef enum enLockType_t
{
    enLockTypeDefault = 0,
    enLockTypeCallLock = 1, // the library-wide call lock
} enLockType_t;

struct KvLockPrimitive;
typedef KvLockPrimitive* KVLOCK;

// A scoped holder of a re-entrant lock primitive. The two bools choose what construction does:
//   (false, true)  waits for the lock (at most the timeout);
//   (false, false) takes nothing; Lock(name, 0) then tries once without waiting;
//   (true,  any)   adopts a hold this thread kept earlier (KeepLockedOnRelease), so UnLock or the
//                  destructor releases it without taking a new one.
// The destructor releases what the holder still has (a hold it cannot release is logged, not retried),
// unless KeepLockedOnRelease(true) was called.
class KVCOMMON_API CLock
{
public:
    static LONG CreateLockPrimitiveEx(KVLOCK* primitive, const char* name, enLockType_t type);
    // Frees the primitive and clears the pointer; a primitive that another thread holds is only
    // detached (cleared), never freed under its holder.
    static void DeleteLockPrimitive(KVLOCK* primitive);

    CLock(KVLOCK* primitive, const char* operation, bool adoptHold, bool lockNow, DWORD timeoutMs);
    ~CLock();
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

    // 0 when acquired; WAIT_TIMEOUT (258) when the wait ran out, ERROR_INVALID_HANDLE (6) without a
    // primitive.
    ULONG Lock(const char* operation, DWORD timeoutMs);
    // Releases one hold of this holder: 0, or ERROR_NOT_OWNER (288) when it has none.
    ULONG UnLock();
    void KeepLockedOnRelease(bool keep);

    // Whether the calling thread holds the primitive (for checks and tests).
    static bool IsOwnedByCurrentThread(KVLOCK* primitive);
    // Primitives created and not yet deleted (for tests).
    static ULONG LivePrimitives();
    // Threads waiting to take a live primitive of that name (for tests).
    static ULONG WaitingFor(const char* lockName);

private:
    KVLOCK* m_primitive;
    const char* m_operation;
    unsigned m_holds;
    bool m_keep;
};

// Tagged blocks. Free releases a block of any of the three, whatever the tag; the tag may be null.
// A count of live blocks is kept per tag, so that a leak of a handed-out block is visible.
class KVCOMMON_API DllAlloc
{
public:
    static void* Allocate(SIZE_T bytes, LPCWSTR tag);
    static void* MemCopyAlloc(const void* source, SIZE_T bytes, LPCWSTR tag);
    static LPWSTR StringCopyAlloc(LPCWSTR text, LPCWSTR tag);
    // 0, or ERROR_INVALID_PARAMETER (87) for a block that is not a live DllAlloc block (nothing is freed).
    static LONG Free(void* block, LPCWSTR tag);

    // Live blocks allocated under the tag (null: under every tag).
    static ULONG LiveBlocks(LPCWSTR tag);
};

// Debug log: wide printf formats (%ws and %s are wide strings, %hs narrow, %d %u %x %08X %p %c ...).
extern "C" KVCOMMON_API void KvDebugLog(LPCWSTR format, ...);
extern "C" KVCOMMON_API void KvDebugLogString(LPCWSTR text);

// Where log lines go: the sink, when set; otherwise OutputDebugStringW on Windows and, on other systems,
// stderr when the environment variable KVHID_LOG is set.
typedef void (*KvLogSink)(LPCWSTR line, void* context);
extern "C" KVCOMMON_API void KvDebugLogSetSink(KvLogSink sink, void* context);
