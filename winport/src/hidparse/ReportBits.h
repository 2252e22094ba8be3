// Reading bit fields out of a report, never beyond its length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace winport::hidparse
{

// The count (0..32) bits at startBit, least significant first; bits beyond
// length read as 0. One unaligned load when the report has 8 bytes from the
// field's first byte, or 8 bytes ending at the report's end.
inline uint32_t ReadBits(const uint8_t* report, size_t length, uint32_t startBit, uint32_t count)
{
    const size_t first = startBit / 8;
    uint32_t shift = startBit % 8;
    uint64_t word = 0;
    if (first + 8 <= length)
    {
        std::memcpy(&word, report + first, 8); // little-endian hosts only
    }
    else if (length >= 8 && first < length)
    {
        std::memcpy(&word, report + length - 8, 8);
        shift += static_cast<uint32_t>(first - (length - 8)) * 8; // at most 63
    }
    else
    {
        for (size_t i = first; i < length; ++i)
            word |= static_cast<uint64_t>(report[i]) << (8 * (i - first));
    }
    word >>= shift;
    return count >= 32 ? static_cast<uint32_t>(word) : static_cast<uint32_t>(word & ((1ull << count) - 1));
}

// Copies count bits at startBit into out (zero-filled first), packed from bit 0.
inline void CopyBits(uint8_t* out, size_t outLength, const uint8_t* report, size_t length, uint32_t startBit,
                     uint32_t count)
{
    std::memset(out, 0, outLength);
    const size_t bytes = (count + 7) / 8 < outLength ? (count + 7) / 8 : outLength;
    const size_t first = startBit / 8;
    if (startBit % 8 == 0)
    {
        // Byte-aligned, as value arrays nearly always are: copy, then clear the unused top bits.
        const size_t available = first < length ? (bytes < length - first ? bytes : length - first) : 0;
        std::memcpy(out, report + first, available);
        if (count % 8 && available == (count + 7) / 8)
            out[available - 1] &= static_cast<uint8_t>((1u << (count % 8)) - 1);
        return;
    }
    for (size_t byte = 0; byte < bytes; ++byte)
    {
        const uint32_t done = static_cast<uint32_t>(byte) * 8;
        out[byte] = static_cast<uint8_t>(
            ReadBits(report, length, startBit + done, count - done < 8 ? count - done : 8));
    }
}

} // namespace winport::hidparse
