// Packs a ParsedCollection into one preparsed-data block (PreparsedLayout.h).
#pragma once

#include "ParsedCollection.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace winport::hidparse
{

class PreparsedBuilder
{
public:
    explicit PreparsedBuilder(const ParsedCollection& collection);

    // The block, or an empty vector when it would exceed the 64 KiB that
    // HIDP_COLLECTION_DESC.PreparsedDataLength can describe.
    std::vector<uint8_t> Build();

private:
    struct TypeIndex
    {
        std::vector<Slot> slots;
        std::vector<uint16_t> wide;
    };

    void IndexType(HIDP_REPORT_TYPE type, uint16_t capBase);
    void FillCounts(Header& header) const;

    const ParsedCollection& m_collection;
    TypeIndex m_index[kReportTypes];
    std::vector<uint16_t> m_capList;
};

} // namespace winport::hidparse
