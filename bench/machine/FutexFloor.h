// The platform's floor: one thread waking another parked in a futex wait.
#pragma once

#include "BenchClock.h"

#include <vector>

// One-way hand-off latencies (ns): a sender wakes a parked receiver, which notes the time it woke.
std::vector<int64_t> FloorHandOffLatencies(int samples);
// readers threads parked in futex waits, each woken rate times a second by one sender, for seconds.
LoadResult FloorLoad(int readers, int rate, double seconds);
