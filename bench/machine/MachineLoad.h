// The machine's side: input reports sent through the control API to readers blocked, as the
// library's read threads are, in an overlapped ReadFile and WaitForSingleObject on its event.
#pragma once

#include "BenchClock.h"

#include <vector>

// Time (ns) from SendInputReport to the return of the parked reader's WaitForSingleObject.
std::vector<int64_t> MachineReportLatencies(int samples);
// devices game pads, each sending rate reports a second to its own reader thread, for seconds.
LoadResult MachineLoad(int devices, int rate, double seconds);
