// Turns a report descriptor into one ParsedCollection per top-level
// collection. The descriptor is untrusted: every limit is explicit and any
// malformed input ends in a status with the offset of the offending item.
#pragma once

#include "ParsedCollection.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace winport::hidparse
{

// Limits on what a descriptor may ask for; beyond them parsing fails.
struct ParserLimits
{
    static constexpr size_t kMaxUsages = 255;         // local usages before one main item
    static constexpr size_t kMaxGlobalDepth = 32;     // Push without Pop
    static constexpr size_t kMaxCollectionDepth = 64; // nested collections
    static constexpr size_t kMaxNodes = 1024;         // link collections per top-level collection
    static constexpr size_t kMaxCaps = 8192;          // caps per top-level collection
    static constexpr size_t kMaxCollections = 255;    // top-level collections (CollectionNumber is a byte)
    static constexpr uint32_t kMaxReportBits = 0xFFFF * 8u;
};

// Why parsing stopped (HIDP_DEVICE_DESC.Dbg.ErrorCode).
enum class ParseError : uint32_t
{
    None = 0,
    TruncatedItem,
    LongItem,
    PopUnderflow,
    PushOverflow,
    EndCollectionUnderflow,
    CollectionTooDeep,
    TooManyUsages,
    TooManyNodes,
    TooManyCaps,
    TooManyCollections,
    TooLarge,
    ReportTooLong,
    DelimiterMismatch,
    NoCollection,
    Unterminated,
};

class DescriptorParser
{
public:
    DescriptorParser(const uint8_t* descriptor, size_t length);

    // Parses the whole descriptor; false on malformed input.
    bool Parse();

    std::vector<ParsedCollection>& Collections() { return m_collections; }
    ParseError Error() const { return m_error; }
    uint32_t ErrorOffset() const { return m_errorOffset; }

private:
    struct Globals
    {
        uint16_t usagePage = 0;
        int32_t logicalMin = 0;
        int32_t logicalMax = 0;
        int32_t physicalMin = 0;
        int32_t physicalMax = 0;
        uint32_t unitsExp = 0;
        uint32_t units = 0;
        uint16_t reportSize = 0;
        uint8_t reportId = 0;
        uint16_t reportCount = 0;
    };

    struct Usage
    {
        uint16_t page;
        uint16_t min;
        uint16_t max;
        bool extended;     // given as a 4-byte usage with its own page
        uint16_t aliasSet; // usages of one delimiter set share a number; 0 outside sets
    };

    struct Locals
    {
        std::vector<Usage> usages;
        bool isRange = false;
        bool stringRange = false;
        bool designatorRange = false;
        uint16_t stringMin = 0, stringMax = 0;
        uint16_t designatorMin = 0, designatorMax = 0;
        int delimiterDepth = 0;
        uint16_t aliasSets = 0;
    };

    struct Link
    {
        uint16_t index;
        uint16_t usage;
        uint16_t usagePage;
    };

    bool Item(uint8_t prefix, uint32_t value, int32_t signedValue);
    bool MainItem(int tag, uint32_t value);
    void GlobalItem(int tag, uint32_t value, int32_t signedValue, bool& ok);
    bool LocalItem(int tag, uint32_t value, int size);
    bool AddUsage(uint32_t value, int size);
    void SetUsageBound(uint32_t value, int size, bool isMin);
    bool OpenCollection(uint32_t value);
    bool CloseCollection();
    bool AddFields(HIDP_REPORT_TYPE type, uint32_t value);
    void AddVariableCaps(HIDP_REPORT_TYPE type, const Cap& base, std::vector<Usage>& usages, uint32_t start,
                         bool named);
    void AddArrayCaps(HIDP_REPORT_TYPE type, const Cap& base, const std::vector<Usage>& usages,
                      uint32_t start, bool named);
    static bool IsPublic(const Cap& base, bool named, const Usage& usage);
    void AssignDataIndex(HIDP_REPORT_TYPE type, Cap& cap);
    Cap BaseCap(uint32_t value) const;
    void ResetLocals();
    bool Fail(ParseError error);

    const uint8_t* m_descriptor;
    size_t m_length;
    size_t m_offset = 0;
    ParseError m_error = ParseError::None;
    uint32_t m_errorOffset = 0;

    Globals m_globals;
    std::vector<Globals> m_globalStack;
    Locals m_locals;
    std::vector<Link> m_links; // open collections, innermost last

    std::vector<ParsedCollection> m_collections;
    ParsedCollection* m_current = nullptr;
    std::array<std::array<uint32_t, 256>, kReportTypes> m_bitOffset{};
    std::array<uint16_t, kReportTypes> m_dataCount{};
};

} // namespace winport::hidparse
