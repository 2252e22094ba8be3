// A hook through which the machine's failure injection makes HidP_GetCaps fail for chosen preparsed
// data. The parser has no other tie to the machine (the fuzz targets build it alone): without a hook,
// HidP_GetCaps answers from the data as always.
#pragma once

#include <hidpi.h>

namespace winport::hidparse
{

// Answers the status HidP_GetCaps must fail with for this data, or HIDP_STATUS_SUCCESS (0 also means
// success) to answer normally.
using CapsFaultHook = NTSTATUS (*)(PHIDP_PREPARSED_DATA preparsed);

void SetCapsFaultHook(CapsFaultHook hook);
NTSTATUS CapsFaultFor(PHIDP_PREPARSED_DATA preparsed);

} // namespace winport::hidparse
