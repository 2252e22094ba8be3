// Native build of the twin programs only: gives the fresh machine one HID game pad before main, so
// that the programs find a device to work on as they do under Wine (which has HID devices of its
// own).
#include "TestDescriptors.h"

#include "machine/Machine.h"

namespace
{

struct PlugAGamePad
{
    PlugAGamePad()
    {
        winport::machine::HidDeviceDescription description;
        description.reportDescriptor = GamePadDescriptor();
        winport::machine::Machine::Instance().PlugDevice(description);
    }
} plugAGamePad;

} // namespace
