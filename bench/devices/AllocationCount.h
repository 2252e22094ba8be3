// Counts the process's heap allocations: malloc, calloc, realloc, the aligned forms and operator new are
// replaced in this program, so every module's allocations are counted. Those called directly from the code of
// watched modules (the library and its helper DLL) are also counted apart.
#pragma once

#include <cstdint>
#include <initializer_list>

uint64_t AllocationCount();
// The calling thread's allocations so far.
uint64_t ThreadAllocationCount();
uint64_t WatchedAllocationCount();
// Watches the modules that hold these addresses (at most 8 loaded segments in all); false if one is unknown.
bool WatchModules(std::initializer_list<const void*> addressesInModules);
