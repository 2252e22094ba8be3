// HidP_* functions that read buttons and values out of a report. They read
// only within ReportLength bytes and allocate nothing.
#include "Preparsed.h"
#include "ReportBits.h"

#include <hidpi.h>

#include <algorithm>
#include <cstdint>

using winport::hidparse::Cap;
using winport::hidparse::Preparsed;

namespace
{

// Checks common to every report call; on success preparsed is set.
NTSTATUS CheckReport(PHIDP_PREPARSED_DATA data, HIDP_REPORT_TYPE type, ULONG length,
                     const Preparsed*& preparsed)
{
    preparsed = Preparsed::From(data);
    if (!preparsed)
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    if (!Preparsed::ValidType(type))
        return HIDP_STATUS_INVALID_REPORT_TYPE;
    if (length != preparsed->ReportLength(type))
        return HIDP_STATUS_INVALID_REPORT_LENGTH;
    return HIDP_STATUS_SUCCESS;
}

// Whether a value cap has a field for the usage (a range holds one usage per
// field, and no more usages than fields).
bool NamesUsage(const Cap& cap, USAGE page, USAGE usage)
{
    if (cap.usagePage != page || usage < cap.usageMin || usage > cap.usageMax)
        return false;
    return !cap.Has(winport::hidparse::kCapRange) ||
           static_cast<uint32_t>(usage - cap.usageMin) < cap.fieldCount;
}

// The first value cap, in cap order, that names the usage in the report's
// report ID. Status USAGE_NOT_FOUND, or INCOMPATIBLE_REPORT_ID when the usage
// exists only in other reports.
inline NTSTATUS FindValue(const Preparsed& preparsed, HIDP_REPORT_TYPE type, USAGE page, USHORT collection,
                          USAGE usage, UCHAR reportId, const Cap*& found)
{
    const winport::hidparse::Slot* slot = preparsed.FindSlot(type, page, usage);
    const uint16_t* indexed = slot ? preparsed.SlotCaps(*slot) : nullptr;
    const uint16_t* indexedEnd = slot ? indexed + slot->count : nullptr;
    bool incompatible = false;
    const auto consider = [&](const Cap& cap)
    {
        if (collection && collection != cap.linkCollection)
            return false;
        if (cap.reportId != reportId)
        {
            incompatible = true;
            return false;
        }
        found = &cap;
        return true;
    };
    if (!preparsed.HasWide(type))
    {
        for (; indexed != indexedEnd; ++indexed)
            if (consider(preparsed.CapAt(*indexed)))
                return HIDP_STATUS_SUCCESS;
        return incompatible ? HIDP_STATUS_INCOMPATIBLE_REPORT_ID : HIDP_STATUS_USAGE_NOT_FOUND;
    }
    // Both lists are in cap order: merge them to keep that order.
    const uint16_t* wide = preparsed.WideBegin(type);
    const uint16_t* wideEnd = preparsed.WideEnd(type);
    while (indexed != indexedEnd || wide != wideEnd)
    {
        const bool takeIndexed = wide == wideEnd || (indexed != indexedEnd && *indexed < *wide);
        const Cap& cap = preparsed.CapAt(takeIndexed ? *indexed++ : *wide++);
        if (!takeIndexed && !NamesUsage(cap, page, usage))
            continue;
        if (consider(cap))
            return HIDP_STATUS_SUCCESS;
    }
    return incompatible ? HIDP_STATUS_INCOMPATIBLE_REPORT_ID : HIDP_STATUS_USAGE_NOT_FOUND;
}

// Where the usage's value is in a report with this report ID: the common case
// straight from the index slot, the others through the caps.
struct ValueField
{
    const Cap* cap;
    uint32_t start;
    uint32_t bits;
};

inline NTSTATUS LocateValue(const Preparsed& preparsed, HIDP_REPORT_TYPE type, USAGE page, USHORT collection,
                            USAGE usage, UCHAR reportId, ValueField& field)
{
    if (!preparsed.HasWide(type))
    {
        const winport::hidparse::Slot* slot = preparsed.FindSlot(type, page, usage);
        if (!slot)
            return HIDP_STATUS_USAGE_NOT_FOUND;
        if (slot->count == 1 && slot->bits)
        {
            if (collection && collection != slot->linkCollection)
                return HIDP_STATUS_USAGE_NOT_FOUND;
            if (slot->reportId != reportId)
                return HIDP_STATUS_INCOMPATIBLE_REPORT_ID;
            field = {&preparsed.CapAt(slot->first), slot->startBit, slot->bits};
            return HIDP_STATUS_SUCCESS;
        }
    }
    const NTSTATUS status = FindValue(preparsed, type, page, collection, usage, reportId, field.cap);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    return winport::hidparse::ValueField(*field.cap, usage, field.start, field.bits)
               ? HIDP_STATUS_SUCCESS
               : HIDP_STATUS_BUFFER_TOO_SMALL;
}

// The checks and the field of HidP_GetUsageValue, shared by the scaled read.
inline NTSTATUS ReadValue(HIDP_REPORT_TYPE type, USAGE page, USHORT collection, USAGE usage,
                          PHIDP_PREPARSED_DATA data, PCHAR reportChars, ULONG length, ValueField& field,
                          ULONG& raw)
{
    if (length == 0)
        return HIDP_STATUS_INVALID_REPORT_LENGTH;
    const Preparsed* preparsed = nullptr;
    NTSTATUS status = CheckReport(data, type, length, preparsed);
    if (status != HIDP_STATUS_SUCCESS)
        return status;
    const auto* report = reinterpret_cast<const uint8_t*>(reportChars);
    status = LocateValue(*preparsed, type, page, collection, usage, report[0], field);
    if (status == HIDP_STATUS_SUCCESS)
        raw = winport::hidparse::ReadBits(report, length, field.start, field.bits);
    return status;
}

// Windows' MulDiv: rounds half away from zero, -1 on a zero divisor or overflow.
LONG MulDiv(LONG a, LONG b, LONG c)
{
    if (c == 0)
        return -1;
    int64_t n = static_cast<int64_t>(a) * b;
    int64_t d = c;
    if (d < 0)
    {
        n = -n;
        d = -d;
    }
    n += n >= 0 ? d / 2 : -(d / 2);
    // A 32-bit division is several times cheaper, and the usual case.
    if (n > INT32_MIN && n <= INT32_MAX && d <= INT32_MAX)
        return static_cast<int32_t>(n) / static_cast<int32_t>(d);
    const int64_t result = n / d;
    if (result > 2147483647 || result < -2147483647)
        return -1;
    return static_cast<LONG>(result);
}

// mulDiv(a, b, c), with the division done as a multiplication by the cap's
// precomputed reciprocal of c when a * b + c / 2 fits in 32 bits (exact there).
LONG ScaledOffset(LONG a, LONG b, LONG c, uint64_t reciprocal)
{
    if (reciprocal && a >= 0 && b >= 0)
    {
        const uint64_t n = static_cast<uint64_t>(a) * static_cast<uint64_t>(b) + static_cast<uint64_t>(c) / 2;
        if (n >> 32 == 0)
            return static_cast<LONG>((static_cast<unsigned __int128>(n) * reciprocal) >> 64);
    }
    return MulDiv(a, b, c);
}

LONG SignExtend(ULONG value, uint32_t bits)
{
    if (bits == 0 || bits >= 32)
        return static_cast<LONG>(value);
    const ULONG sign = 1u << (bits - 1);
    return static_cast<LONG>((value ^ sign) - sign);
}

NTSTATUS Scale(const Cap& cap, ULONG raw, uint32_t bits, LONG& scaled)
{
    const LONG value = cap.logicalMin < 0 ? SignExtend(raw, bits) : static_cast<LONG>(raw);
    if (cap.logicalMin > cap.logicalMax || cap.physicalMin > cap.physicalMax)
        return HIDP_STATUS_BAD_LOG_PHY_VALUES;
    if (value < cap.logicalMin || value > cap.logicalMax)
        return cap.Has(winport::hidparse::kCapHasNull) ? HIDP_STATUS_NULL : HIDP_STATUS_VALUE_OUT_OF_RANGE;
    if (cap.physicalMin == 0 && cap.physicalMax == 0)
    {
        scaled = value;
        return HIDP_STATUS_SUCCESS;
    }
    // 32-bit wrap-around, as the 32-bit arithmetic of the reference.
    const auto diff = [](LONG a, LONG b)
    { return static_cast<LONG>(static_cast<ULONG>(a) - static_cast<ULONG>(b)); };
    const LONG offset = ScaledOffset(diff(value, cap.logicalMin), diff(cap.physicalMax, cap.physicalMin),
                                     diff(cap.logicalMax, cap.logicalMin), cap.scaleReciprocal);
    scaled = static_cast<LONG>(static_cast<ULONG>(cap.physicalMin) + static_cast<ULONG>(offset));
    return HIDP_STATUS_SUCCESS;
}

// Array fields hold indices into the item's usage list, counted from Logical
// Minimum; 0, or an index outside the logical range, is an empty field.
template <class Emit> void ArrayUsages(const Cap& cap, const uint8_t* report, ULONG length, Emit&& emit)
{
    if (cap.usageMax < cap.usageMin)
        return;
    const uint32_t width = cap.bitSize > 32 ? 32 : cap.bitSize;
    const uint32_t span =
        cap.Has(winport::hidparse::kCapRange) ? static_cast<uint32_t>(cap.usageMax - cap.usageMin) + 1 : 1;
    for (uint32_t field = 0; field < cap.fieldCount; ++field)
    {
        const ULONG raw =
            winport::hidparse::ReadBits(report, length, cap.startBit + field * cap.bitSize, width);
        const int64_t value = cap.logicalMin < 0 ? SignExtend(raw, width) : static_cast<int64_t>(raw);
        if (value == 0 || value < cap.logicalMin || value > cap.logicalMax)
            continue;
        const int64_t index = value - cap.logicalMin - cap.arrayBase;
        if (index >= 0 && index < span)
            emit(static_cast<USAGE>(cap.usageMin + index));
    }
}

// A constant item carries no controls, and nothing says how to read one as
// an array: it reads as the reference parser reads it, a byte per 8 bits of
// the item, byte k+1 naming the cap's first usage when the cap is the item's
// k-th usage.
template <class Emit>
void ConstantArrayUsages(const Cap& cap, const uint8_t* report, ULONG length, Emit&& emit)
{
    const uint32_t first = cap.startBit % 8;
    const uint32_t last = first + static_cast<uint32_t>(cap.fieldCount) * cap.bitSize;
    const uint32_t indexMin = cap.arrayOrdinal + 1u;
    const uint32_t indexMax = indexMin + static_cast<uint16_t>(cap.usageMax - cap.usageMin);
    for (uint32_t bit = first; bit < last; bit += 8)
    {
        const size_t byte = cap.startBit / 8 + bit / 8;
        const uint32_t index = byte < length ? report[byte] : 0;
        if (index != 0 && index >= indexMin && index <= indexMax)
            emit(static_cast<USAGE>(cap.usageMin + index - indexMin));
    }
}

template <class Emit> void VariableUsages(const Cap& cap, const uint8_t* report, ULONG length, Emit&& emit)
{
    const uint32_t bits = cap.Has(winport::hidparse::kCapRange) ? cap.fieldCount : 1;
    for (uint32_t done = 0; done < bits; done += 32)
    {
        const uint32_t n = bits - done < 32 ? bits - done : 32;
        for (uint32_t word = winport::hidparse::ReadBits(report, length, cap.startBit + done, n); word;
             word &= word - 1)
            emit(static_cast<USAGE>(cap.usageMin + done + __builtin_ctz(word)));
    }
}

} // namespace

extern "C"
{

    NTSTATUS NTAPI HidP_GetUsages(HIDP_REPORT_TYPE type, USAGE page, USHORT collection, PUSAGE list,
                                  PULONG listLength, PHIDP_PREPARSED_DATA data, PCHAR reportChars,
                                  ULONG length)
    {
        if (length == 0)
            return HIDP_STATUS_INVALID_REPORT_LENGTH;
        const Preparsed* preparsed = nullptr;
        const NTSTATUS status = CheckReport(data, type, length, preparsed);
        const ULONG capacity = *listLength;
        *listLength = 0;
        if (status != HIDP_STATUS_SUCCESS)
            return status;
        const auto* report = reinterpret_cast<const uint8_t*>(reportChars);
        ULONG found = 0;
        bool matched = false, incompatible = false;
        const auto emit = [&](USAGE usage)
        {
            if (found < capacity)
                list[found] = usage;
            ++found;
        };
        for (const uint16_t* index = preparsed->ButtonsBegin(type); index != preparsed->ButtonsEnd(type);
             ++index)
        {
            const Cap* cap = &preparsed->CapAt(*index);
            if (cap->usagePage != page)
                continue;
            if (collection && collection != cap->linkCollection)
                continue;
            if (cap->reportId != report[0])
            {
                incompatible = true;
                continue;
            }
            matched = true;
            if (cap->Has(winport::hidparse::kCapArray) && (cap->bitField & winport::hidparse::kMainConstant))
                ConstantArrayUsages(*cap, report, length, emit);
            else if (cap->Has(winport::hidparse::kCapArray))
                ArrayUsages(*cap, report, length, emit);
            else
                VariableUsages(*cap, report, length, emit);
        }
        if (!matched)
            return incompatible ? HIDP_STATUS_INCOMPATIBLE_REPORT_ID : HIDP_STATUS_USAGE_NOT_FOUND;
        *listLength = found;
        return found > capacity ? HIDP_STATUS_BUFFER_TOO_SMALL : HIDP_STATUS_SUCCESS;
    }

    NTSTATUS NTAPI HidP_GetUsageValue(HIDP_REPORT_TYPE type, USAGE page, USHORT collection, USAGE usage,
                                      PULONG value, PHIDP_PREPARSED_DATA data, PCHAR reportChars,
                                      ULONG length)
    {
        ValueField field{};
        return ReadValue(type, page, collection, usage, data, reportChars, length, field, *value);
    }

    NTSTATUS NTAPI HidP_GetScaledUsageValue(HIDP_REPORT_TYPE type, USAGE page, USHORT collection, USAGE usage,
                                            PLONG value, PHIDP_PREPARSED_DATA data, PCHAR reportChars,
                                            ULONG length)
    {
        *value = 0;
        ValueField field{};
        ULONG raw = 0;
        NTSTATUS status = ReadValue(type, page, collection, usage, data, reportChars, length, field, raw);
        if (status != HIDP_STATUS_SUCCESS)
            return status;
        LONG scaled = 0;
        status = Scale(*field.cap, raw, field.bits, scaled);
        if (status == HIDP_STATUS_SUCCESS)
            *value = scaled;
        return status;
    }

    NTSTATUS NTAPI HidP_GetUsageValueArray(HIDP_REPORT_TYPE type, USAGE page, USHORT collection, USAGE usage,
                                           PCHAR out, USHORT outLength, PHIDP_PREPARSED_DATA data,
                                           PCHAR reportChars, ULONG length)
    {
        if (length == 0)
            return HIDP_STATUS_INVALID_REPORT_LENGTH;
        const Preparsed* preparsed = nullptr;
        NTSTATUS status = CheckReport(data, type, length, preparsed);
        if (status != HIDP_STATUS_SUCCESS)
            return status;
        const auto* report = reinterpret_cast<const uint8_t*>(reportChars);
        const Cap* cap = nullptr;
        status = FindValue(*preparsed, type, page, collection, usage, report[0], cap);
        if (status != HIDP_STATUS_SUCCESS)
            return status;
        if (cap->Has(winport::hidparse::kCapRange) || cap->reportCount <= 1)
            return HIDP_STATUS_NOT_VALUE_ARRAY;
        const uint32_t bits = static_cast<uint32_t>(cap->bitSize) * cap->fieldCount;
        if ((bits + 7) / 8 > outLength)
            return HIDP_STATUS_BUFFER_TOO_SMALL;
        winport::hidparse::CopyBits(reinterpret_cast<uint8_t*>(out), outLength, report, length, cap->startBit,
                                    bits);
        return HIDP_STATUS_SUCCESS;
    }

} // extern "C"
