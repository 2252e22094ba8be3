// Names for the inputs kvhidmon shows: HID usages of the pages game controllers use, and the keys of the
// virtual keyboard (through the library's own key-name export).
#pragma once

#include <cstdint>
#include <string>

// "X", "Throttle", "Button 3", or "page 0xNN usage 0xNN" for one without a name here.
std::string UsageName(uint16_t page, uint16_t usage);
std::string KeyName(uint16_t keyCode);
