// The demo's report descriptors (demo/*.hex, see demo/ORIGIN.md), compiled in by CMake.
#pragma once

#include <cstdint>
#include <vector>

extern const std::vector<uint8_t> kDemoGamepadDescriptor;
extern const std::vector<uint8_t> kDemoFlightStickDescriptor;
extern const std::vector<uint8_t> kDemoArcadePadDescriptor;
