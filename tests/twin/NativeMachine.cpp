// Native build of the twin programs only: gives the fresh machine one HID game pad before main, so
// that the programs find a device to work on as they do under Wine (which has HID devices of its
// own).
#include "machine/Machine.h"

namespace
{

struct PlugAGamePad
{
    PlugAGamePad()
    {
        winport::machine::HidDeviceDescription description;
        description.reportDescriptor = {0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0x05, 0x09, 0x19, 0x01,
                                        0x29, 0x08, 0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x08,
                                        0x81, 0x02, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x00,
                                        0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0xC0};
        winport::machine::Machine::Instance().PlugDevice(description);
    }
} plugAGamePad;

} // namespace
