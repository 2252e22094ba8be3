// What the descriptor parser finds in one top-level collection, before it is
// packed into a preparsed-data block.
#pragma once

#include "PreparsedLayout.h"

#include <array>
#include <cstdint>
#include <vector>

namespace winport::hidparse
{

struct ParsedCollection
{
    uint16_t usage = 0;
    uint16_t usagePage = 0;
    std::array<std::vector<Cap>, kReportTypes> caps;
    std::vector<Node> nodes;
    std::array<uint16_t, kReportTypes> reportLength{};
};

} // namespace winport::hidparse
