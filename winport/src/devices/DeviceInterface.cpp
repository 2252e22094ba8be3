#include "src/devices/DeviceInterface.h"

namespace winport::devices
{

DeviceInterface::~DeviceInterface()
{
    if (preparsed != nullptr)
        WinportHidP_FreePreparsedData(preparsed);
}

} // namespace winport::devices
