#include "PreparsedBuilder.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace winport::hidparse
{
namespace
{

uint32_t RoundUp8(uint32_t n)
{
    return (n + 7) & ~7u;
}

uint32_t TableSize(size_t keys)
{
    uint32_t size = 1;
    while (size < keys + keys / 2 + 1)
        size <<= 1;
    return size;
}

uint64_t ScaleReciprocal(const Cap& cap)
{
    const auto range =
        static_cast<int32_t>(static_cast<uint32_t>(cap.logicalMax) - static_cast<uint32_t>(cap.logicalMin));
    return range >= 2 ? ~0ull / static_cast<uint32_t>(range) + 1 : 0;
}

// A slot for a usage that one cap names holds what a lookup needs, so that
// the common lookup reads no cap.
Slot PlannedSlot(uint32_t key, uint16_t capIndex, const Cap& cap)
{
    Slot slot{key, capIndex, 1, 0, 0, cap.reportId, cap.linkCollection};
    uint32_t start = 0, bits = 0;
    if (ValueField(cap, static_cast<uint16_t>(key), start, bits) && bits > 0)
    {
        slot.startBit = start;
        slot.bits = static_cast<uint8_t>(bits);
    }
    return slot;
}

bool IsIndexedValue(const Cap& cap)
{
    return !cap.Has(kCapButton) && cap.Has(kCapPublic);
}

} // namespace

PreparsedBuilder::PreparsedBuilder(const ParsedCollection& collection) : m_collection(collection) {}

// Each (page, usage) that a value cap can read gets the run of caps naming it,
// in cap order; wide ranges are listed apart.
void PreparsedBuilder::IndexType(HIDP_REPORT_TYPE type, uint16_t capBase)
{
    const std::vector<Cap>& caps = m_collection.caps[type];
    std::map<uint32_t, std::vector<uint16_t>> byUsage;
    TypeIndex& index = m_index[type];
    for (size_t i = 0; i < caps.size(); ++i)
    {
        const Cap& cap = caps[i];
        if (!IsIndexedValue(cap))
            continue;
        const uint16_t capIndex = static_cast<uint16_t>(capBase + i);
        if (!cap.Has(kCapRange))
        {
            byUsage[SlotKey(cap.usagePage, cap.usageMin)].push_back(capIndex);
            continue;
        }
        if (cap.fieldCount > kMaxIndexedRange)
        {
            index.wide.push_back(capIndex);
            continue;
        }
        for (uint32_t k = 0; k < cap.fieldCount; ++k)
            byUsage[SlotKey(cap.usagePage, static_cast<uint16_t>(cap.usageMin + k))].push_back(capIndex);
    }
    index.slots.assign(TableSize(byUsage.size()), Slot{});
    const uint32_t mask = static_cast<uint32_t>(index.slots.size() - 1);
    for (const auto& [key, list] : byUsage)
    {
        uint32_t at = SlotHash(key) & mask;
        while (index.slots[at].count)
            at = (at + 1) & mask;
        if (list.size() == 1)
        {
            index.slots[at] = PlannedSlot(key, list[0], caps[list[0] - capBase]);
            continue;
        }
        index.slots[at] = {
            key, static_cast<uint16_t>(m_capList.size()), static_cast<uint16_t>(list.size()), 0, 0, 0, 0};
        m_capList.insert(m_capList.end(), list.begin(), list.end());
    }
}

void PreparsedBuilder::FillCounts(Header& header) const
{
    for (HIDP_REPORT_TYPE type : kAllReportTypes)
    {
        for (const Cap& cap : m_collection.caps[type])
        {
            if (!cap.Has(kCapPublic))
                continue;
            ++(cap.Has(kCapButton) ? header.buttonCaps[type] : header.valueCaps[type]);
            header.dataIndices[type] += cap.Has(kCapRange) ? cap.dataIndexMax - cap.dataIndexMin + 1 : 1;
        }
    }
}

std::vector<uint8_t> PreparsedBuilder::Build()
{
    Header header{};
    std::memcpy(header.magic, kPreparsedMagic, sizeof header.magic);
    header.usage = m_collection.usage;
    header.usagePage = m_collection.usagePage;

    std::vector<Cap> caps;
    for (HIDP_REPORT_TYPE type : kAllReportTypes)
    {
        const std::vector<Cap>& typeCaps = m_collection.caps[type];
        if (caps.size() + typeCaps.size() > 0xFFFF)
            return {};
        header.reportLength[type] = m_collection.reportLength[type];
        header.capBegin[type] = static_cast<uint16_t>(caps.size());
        IndexType(type, header.capBegin[type]);
        for (Cap cap : typeCaps)
        {
            cap.scaleReciprocal = ScaleReciprocal(cap);
            caps.push_back(cap);
        }
        header.capEnd[type] = static_cast<uint16_t>(caps.size());
    }
    FillCounts(header);

    uint32_t slotCount = 0;
    for (HIDP_REPORT_TYPE type : kAllReportTypes)
    {
        header.slotBegin[type] = slotCount;
        header.slotMask[type] = static_cast<uint32_t>(m_index[type].slots.size() - 1);
        slotCount += static_cast<uint32_t>(m_index[type].slots.size());
        header.wideBegin[type] = static_cast<uint16_t>(m_capList.size());
        m_capList.insert(m_capList.end(), m_index[type].wide.begin(), m_index[type].wide.end());
        header.wideEnd[type] = static_cast<uint16_t>(m_capList.size());
        header.buttonBegin[type] = static_cast<uint16_t>(m_capList.size());
        for (uint16_t i = header.capBegin[type]; i < header.capEnd[type]; ++i)
            if (caps[i].Has(kCapButton) && caps[i].Has(kCapPublic))
                m_capList.push_back(i);
        header.buttonEnd[type] = static_cast<uint16_t>(m_capList.size());
    }
    header.capCount = static_cast<uint16_t>(caps.size());
    header.nodeCount = static_cast<uint16_t>(m_collection.nodes.size());
    header.slotCount = slotCount;
    header.capListCount = static_cast<uint32_t>(m_capList.size());
    header.capsOffset = RoundUp8(sizeof(Header));
    header.nodesOffset = RoundUp8(header.capsOffset + static_cast<uint32_t>(caps.size() * sizeof(Cap)));
    header.slotsOffset =
        RoundUp8(header.nodesOffset + header.nodeCount * static_cast<uint32_t>(sizeof(Node)));
    header.capListOffset = RoundUp8(header.slotsOffset + slotCount * static_cast<uint32_t>(sizeof(Slot)));
    const uint64_t size = header.capListOffset + static_cast<uint64_t>(m_capList.size()) * sizeof(uint16_t);
    if (size > 0xFFFF || m_capList.size() > 0xFFFF)
        return {};
    header.size = static_cast<uint32_t>(size);

    std::vector<uint8_t> block(header.size, 0);
    const auto put = [&block](uint32_t offset, const void* data, size_t bytes)
    {
        if (bytes)
            std::memcpy(block.data() + offset, data, bytes);
    };
    put(0, &header, sizeof header);
    put(header.capsOffset, caps.data(), caps.size() * sizeof(Cap));
    put(header.nodesOffset, m_collection.nodes.data(), header.nodeCount * sizeof(Node));
    for (HIDP_REPORT_TYPE type : kAllReportTypes)
        put(header.slotsOffset + header.slotBegin[type] * static_cast<uint32_t>(sizeof(Slot)),
            m_index[type].slots.data(), m_index[type].slots.size() * sizeof(Slot));
    put(header.capListOffset, m_capList.data(), m_capList.size() * sizeof(uint16_t));
    return block;
}

} // namespace winport::hidparse
