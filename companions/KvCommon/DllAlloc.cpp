#include "KvCommon.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>

namespace
{
typedef std::basic_string<WCHAR> Tag;

// Every live block and the count of live blocks per tag. Keeping the blocks in a table lets Free refuse a
// pointer it never handed out (or already took back) without touching its memory.
struct BlockRegistry
{
    std::mutex mutex;
    std::unordered_map<void*, const Tag*> blocks;
    std::map<Tag, ULONG> liveByTag;

    void* Add(void* block, LPCWSTR tag)
    {
        if (block == nullptr)
            return nullptr;
        std::lock_guard<std::mutex> guard(mutex);
        auto entry = liveByTag.emplace(tag ? Tag(tag) : Tag(), 0).first;
        ++entry->second;
        blocks.emplace(block, &entry->first);
        return block;
    }

    bool Remove(void* block)
    {
        std::lock_guard<std::mutex> guard(mutex);
        auto found = blocks.find(block);
        if (found == blocks.end())
            return false;
        --liveByTag[*found->second];
        blocks.erase(found);
        return true;
    }

    ULONG Live(LPCWSTR tag)
    {
        std::lock_guard<std::mutex> guard(mutex);
        if (tag == nullptr)
            return static_cast<ULONG>(blocks.size());
        auto found = liveByTag.find(Tag(tag));
        return found == liveByTag.end() ? 0 : found->second;
    }
};

BlockRegistry& Registry()
{
    static BlockRegistry registry;
    return registry;
}

constexpr LONG kInvalidParameter = 87; // ERROR_INVALID_PARAMETER
} // namespace

void* DllAlloc::Allocate(SIZE_T bytes, LPCWSTR tag)
{
    // A block of 0 bytes is still a distinct block that Free accepts.
    return Registry().Add(std::malloc(bytes ? bytes : 1), tag);
}

void* DllAlloc::MemCopyAlloc(const void* source, SIZE_T bytes, LPCWSTR tag)
{
    void* block = Allocate(bytes, tag);
    if (block && bytes)
        std::memcpy(block, source, bytes);
    return block;
}

LPWSTR DllAlloc::StringCopyAlloc(LPCWSTR text, LPCWSTR tag)
{
    SIZE_T length = 0;
    while (text[length])
        ++length;
    return static_cast<LPWSTR>(MemCopyAlloc(text, (length + 1) * sizeof(WCHAR), tag));
}

LONG DllAlloc::Free(void* block, LPCWSTR)
{
    if (block == nullptr)
        return 0;
    if (!Registry().Remove(block))
        return kInvalidParameter;
    std::free(block);
    return 0;
}

ULONG DllAlloc::LiveBlocks(LPCWSTR tag)
{
    return Registry().Live(tag);
}
