#include "CapsFaultHook.h"

#include <atomic>

namespace winport::hidparse
{

namespace
{
std::atomic<CapsFaultHook> g_capsFaultHook{nullptr};
}

void SetCapsFaultHook(CapsFaultHook hook)
{
    g_capsFaultHook = hook;
}

NTSTATUS CapsFaultFor(PHIDP_PREPARSED_DATA preparsed)
{
    const CapsFaultHook hook = g_capsFaultHook;
    const NTSTATUS status = hook ? hook(preparsed) : HIDP_STATUS_SUCCESS;
    return status == 0 ? HIDP_STATUS_SUCCESS : status;
}

} // namespace winport::hidparse
