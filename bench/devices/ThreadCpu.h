// CPU time of single threads of this process, by their kernel thread ids.
#pragma once

#include <cstdint>
#include <set>
#include <sys/types.h>

// The kernel ids of the process's threads now (/proc/self/task).
std::set<pid_t> ProcessThreads();
// Threads in after that are not in before.
std::set<pid_t> NewThreads(const std::set<pid_t>& before, const std::set<pid_t>& after);
// User plus system CPU time of one thread of this process, in ns (its thread CPU clock); -1 once it ended.
int64_t ThreadCpuNs(pid_t tid);
// The calling thread's CPU time, in ns.
int64_t OwnThreadCpuNs();
