#include "AllocationCount.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <dlfcn.h>
#include <link.h>
#include <new>

// glibc's own entry points, which the replacements forward to.
extern "C"
{
    void* __libc_malloc(size_t size);
    void* __libc_calloc(size_t count, size_t size);
    void* __libc_realloc(void* block, size_t size);
    void* __libc_memalign(size_t alignment, size_t size);
    void __libc_free(void* block);
}

namespace
{
struct Segment
{
    uintptr_t begin, end;
};

constexpr int kMaxSegments = 8;
Segment g_segments[kMaxSegments];
std::atomic<int> g_segmentCount{0};
std::atomic<uint64_t> g_allocations{0};
std::atomic<uint64_t> g_watched{0};
// Set up with the thread, before any of its code runs: safe to touch from inside malloc.
__attribute__((tls_model("initial-exec"))) thread_local uint64_t t_allocations = 0;

bool Watched(const void* caller)
{
    const uintptr_t at = reinterpret_cast<uintptr_t>(caller);
    const int n = g_segmentCount.load(std::memory_order_acquire);
    for (int i = 0; i < n; ++i)
        if (at >= g_segments[i].begin && at < g_segments[i].end)
            return true;
    return false;
}

void Count(const void* caller)
{
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    ++t_allocations;
    if (Watched(caller))
        g_watched.fetch_add(1, std::memory_order_relaxed);
}

// Adds the executable segments of the module loaded at base.
int AddSegments(dl_phdr_info* info, size_t, void* base)
{
    if (reinterpret_cast<void*>(info->dlpi_addr) != base)
        return 0;
    int n = g_segmentCount.load();
    for (int i = 0; i < info->dlpi_phnum && n < kMaxSegments; ++i)
    {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type == PT_LOAD && (header.p_flags & PF_X) != 0)
            g_segments[n++] = {info->dlpi_addr + header.p_vaddr,
                               info->dlpi_addr + header.p_vaddr + header.p_memsz};
    }
    g_segmentCount.store(n, std::memory_order_release);
    return 1;
}
} // namespace

uint64_t AllocationCount()
{
    return g_allocations.load(std::memory_order_relaxed);
}

uint64_t ThreadAllocationCount()
{
    return t_allocations;
}

uint64_t WatchedAllocationCount()
{
    return g_watched.load(std::memory_order_relaxed);
}

bool WatchModules(std::initializer_list<const void*> addressesInModules)
{
    for (const void* address : addressesInModules)
    {
        Dl_info module{};
        if (dladdr(address, &module) == 0 || dl_iterate_phdr(&AddSegments, module.dli_fbase) == 0)
            return false;
    }
    return true;
}

#define KV_CALLER __builtin_return_address(0)

extern "C"
{
    void* malloc(size_t size)
    {
        Count(KV_CALLER);
        return __libc_malloc(size);
    }

    void* calloc(size_t count, size_t size)
    {
        Count(KV_CALLER);
        return __libc_calloc(count, size);
    }

    void* realloc(void* block, size_t size)
    {
        Count(KV_CALLER);
        return __libc_realloc(block, size);
    }

    void* memalign(size_t alignment, size_t size)
    {
        Count(KV_CALLER);
        return __libc_memalign(alignment, size);
    }

    void* aligned_alloc(size_t alignment, size_t size)
    {
        Count(KV_CALLER);
        return __libc_memalign(alignment, size);
    }

    int posix_memalign(void** block, size_t alignment, size_t size)
    {
        Count(KV_CALLER);
        void* p = __libc_memalign(alignment, size);
        if (p == nullptr)
            return ENOMEM;
        *block = p;
        return 0;
    }

    void free(void* block)
    {
        __libc_free(block);
    }
}

// operator new is replaced too, so that the caller seen is the code that asked, not the C++ runtime.
namespace
{
void* New(size_t size, const void* caller)
{
    Count(caller);
    void* block = __libc_malloc(size ? size : 1);
    if (block == nullptr)
        throw std::bad_alloc();
    return block;
}

void* NewNoThrow(size_t size, const void* caller) noexcept
{
    Count(caller);
    return __libc_malloc(size ? size : 1);
}
} // namespace

void* operator new(size_t size)
{
    return New(size, KV_CALLER);
}

void* operator new[](size_t size)
{
    return New(size, KV_CALLER);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept
{
    return NewNoThrow(size, KV_CALLER);
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return NewNoThrow(size, KV_CALLER);
}

void operator delete(void* block) noexcept
{
    __libc_free(block);
}

void operator delete[](void* block) noexcept
{
    __libc_free(block);
}

void operator delete(void* block, size_t) noexcept
{
    __libc_free(block);
}

void operator delete[](void* block, size_t) noexcept
{
    __libc_free(block);
}
