// The game controllers among the machine's HID devices, as DirectInput lists them.
#pragma once

#include "src/dinput8/SystemInput.h"

#include <vector>

namespace winport::dinput8
{

// Every present HID interface whose top-level collection is a joystick, game pad or multi-axis
// controller (generic desktop usages 4, 5 and 8). Reads them through the HID API like any client,
// with no access asked, and leaves the calling thread's last error as it was.
std::vector<GameController> HidGameControllers();

} // namespace winport::dinput8
