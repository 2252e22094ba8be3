#include "src/devices/SimulatedDevices.h"

#include <mutex>

namespace winport::devices
{

namespace
{

SimulatedDevices* instance = nullptr;
std::once_flag created;

} // namespace

SimulatedDevices& SimulatedDevices::Instance()
{
    // Heap-allocated so that no static destructor of a library using winport can outlive it; winport's
    // own unload destroys it last.
    std::call_once(created, [] { instance = new SimulatedDevices; });
    return *instance;
}

void SimulatedDevices::DestroyInstance()
{
    delete instance;
    instance = nullptr;
}

DeviceControl& DeviceControl::Instance()
{
    return SimulatedDevices::Instance();
}

} // namespace winport::devices
