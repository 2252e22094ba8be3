#include "src/devices/HidFile.h"

#include "src/devices/SimulatedDevices.h"

namespace winport::devices
{

HidFile::~HidFile()
{
    for (PendingRead* read : pending)
        if (read->heap)
            delete read;
}

void HidFile::OnLastHandleClosed()
{
    SimulatedDevices::Instance().Reads().OnFileClosed(*this);
}

} // namespace winport::devices
