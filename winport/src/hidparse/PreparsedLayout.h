// The layout of a preparsed-data block: one self-contained, pointer-free
// block per top-level collection, so that it can be copied with memcpy.
//
//   Header | Cap[capCount] | Node[nodeCount] | Slot[slotCount] | uint16 capList[capListCount]
//
// Caps hold the input caps, then the output caps, then the feature caps, each
// group in the order the HidP_*Caps functions return them. Slots and capList
// form a hash index from (report type, usage page, usage) to the value caps
// that name that usage, so that a value lookup costs the same however many
// value caps the collection has.
#pragma once

#include <hidpi.h>

#include <cstdint>

namespace winport::hidparse
{

constexpr char kPreparsedMagic[8] = {'W', 'p', 'H', 'i', 'd', 'P', 'D', '1'};
constexpr int kReportTypes = 3; // HidP_Input, HidP_Output, HidP_Feature index the per-type arrays
constexpr HIDP_REPORT_TYPE kAllReportTypes[kReportTypes] = {HidP_Input, HidP_Output, HidP_Feature};

// Cap flags.
constexpr uint16_t kCapRange = 0x0001;
constexpr uint16_t kCapStringRange = 0x0002;
constexpr uint16_t kCapDesignatorRange = 0x0004;
constexpr uint16_t kCapAbsolute = 0x0008;
constexpr uint16_t kCapButton = 0x0010;
constexpr uint16_t kCapArray = 0x0020;
constexpr uint16_t kCapPublic = 0x0040; // returned by the API and given data indices; padding is not
constexpr uint16_t kCapAlias = 0x0080;
constexpr uint16_t kCapHasNull = 0x0100;

// One button or value capability.
struct Cap
{
    uint16_t usagePage;
    uint16_t usageMin;
    uint16_t usageMax;
    uint16_t stringMin;
    uint16_t stringMax;
    uint16_t designatorMin;
    uint16_t designatorMax;
    uint16_t dataIndexMin;
    uint16_t dataIndexMax;
    uint16_t linkCollection;
    uint16_t linkUsage;
    uint16_t linkUsagePage;
    uint16_t bitField;
    uint16_t bitSize;
    uint16_t reportCount; // as HIDP_VALUE_CAPS reports it
    uint16_t fieldCount;  // fields of the report this cap reads: never beyond the main item
    uint16_t flags;
    uint8_t reportId;
    uint8_t arrayOrdinal; // array caps: position of the cap's usage in the main item (0-based)
    uint32_t startBit;    // offset of the first field in the report, report-ID byte included
    uint32_t arrayBase;   // array caps: index of usageMin in the main item's usage list
    int32_t logicalMin;
    int32_t logicalMax;
    int32_t physicalMin;
    int32_t physicalMax;
    uint32_t units;
    uint32_t unitsExp;
    // ceil(2^64 / (LogicalMax - LogicalMin)) when that is 2 or more, else 0:
    // scaling divides by a multiplication.
    uint64_t scaleReciprocal;

    bool Has(uint16_t flag) const { return (flags & flag) != 0; }
};

struct Node
{
    uint16_t usage;
    uint16_t usagePage;
    uint16_t parent;
    uint16_t childCount;
    uint16_t nextSibling;
    uint16_t firstChild;
    uint8_t collectionType;
    uint8_t isAlias;
    uint16_t reserved;
};

// A hash slot: the value caps that name one (page, usage), as a run of
// capList in cap order, or, when there is just one, its index in first.
// count == 0 marks an empty slot.
struct Slot
{
    uint32_t key;
    uint16_t first;
    uint16_t count;
    // When one cap names the usage: where its value is (bits 0 when it cannot
    // be read as one ULONG), and what a lookup must match.
    uint32_t startBit;
    uint8_t bits;
    uint8_t reportId;
    uint16_t linkCollection;
};

constexpr uint16_t kMainConstant = 0x01; // main-item data bit: Constant

// Where the value of a usage that the cap names lies: a range gives one field
// per usage. A single usage with several fields (a value array) reads as all
// of them together, up to the first 32 bits; in a constant item it reads as
// its first field. A usage left without a field (more usages than Report
// Count) reads the field-sized bits after the item. False when a field is
// wider than the 32 bits of a ULONG.
inline bool ValueField(const Cap& cap, uint16_t usage, uint32_t& start, uint32_t& bits)
{
    if (cap.bitSize > 32)
        return false;
    start = cap.startBit;
    bits = cap.bitSize;
    if (cap.Has(kCapRange))
        start += static_cast<uint32_t>(usage - cap.usageMin) * cap.bitSize;
    else if (!(cap.bitField & kMainConstant) && cap.fieldCount > 1)
        bits = bits * cap.fieldCount < 32 ? bits * cap.fieldCount : 32;
    return true;
}

// Value ranges up to this many usages enter the index usage by usage; wider
// ones are listed apart and checked one by one.
constexpr uint32_t kMaxIndexedRange = 64;

struct Header
{
    char magic[8];
    uint32_t size;
    uint16_t usage;
    uint16_t usagePage;
    uint16_t reportLength[kReportTypes];
    uint16_t capBegin[kReportTypes];
    uint16_t capEnd[kReportTypes];
    uint16_t buttonCaps[kReportTypes];
    uint16_t valueCaps[kReportTypes];
    uint16_t dataIndices[kReportTypes];
    // Value caps whose usage range is too wide to enter in the index:
    // capList[wideBegin[t] .. wideEnd[t]) lists them, in cap order.
    uint16_t wideBegin[kReportTypes];
    uint16_t wideEnd[kReportTypes];
    // The button caps that have usages: capList[buttonBegin[t] .. buttonEnd[t]), in cap order.
    uint16_t buttonBegin[kReportTypes];
    uint16_t buttonEnd[kReportTypes];
    uint16_t nodeCount;
    uint16_t capCount;
    uint32_t slotBegin[kReportTypes]; // each type's table: slotMask[t] + 1 slots (a power of two)
    uint32_t slotMask[kReportTypes];
    uint32_t slotCount;
    uint32_t capListCount;
    uint32_t capsOffset;
    uint32_t nodesOffset;
    uint32_t slotsOffset;
    uint32_t capListOffset;
};

inline uint32_t SlotKey(uint16_t page, uint16_t usage)
{
    return static_cast<uint32_t>(page) << 16 | usage;
}

inline uint32_t SlotHash(uint32_t key)
{
    key ^= key >> 16;
    key *= 0x7feb352du;
    key ^= key >> 15;
    return key;
}

} // namespace winport::hidparse
