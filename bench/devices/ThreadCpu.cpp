#include "ThreadCpu.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <iterator>

std::set<pid_t> ProcessThreads()
{
    std::set<pid_t> threads;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr)
        return threads;
    while (const dirent* entry = readdir(tasks))
        if (entry->d_name[0] != '.')
            threads.insert(static_cast<pid_t>(std::atoi(entry->d_name)));
    closedir(tasks);
    return threads;
}

std::set<pid_t> NewThreads(const std::set<pid_t>& before, const std::set<pid_t>& after)
{
    std::set<pid_t> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::inserter(added, added.end()));
    return added;
}

int64_t ThreadCpuNs(pid_t tid)
{
    // Linux names any thread's CPU clock by its id: per-thread, scheduler-precise (CPUCLOCK_SCHED).
    const clockid_t clock = static_cast<clockid_t>((~static_cast<unsigned>(tid) << 3) | 6);
    timespec t{};
    if (clock_gettime(clock, &t) != 0)
        return -1;
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}

int64_t OwnThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return int64_t(t.tv_sec) * 1000000000 + t.tv_nsec;
}
