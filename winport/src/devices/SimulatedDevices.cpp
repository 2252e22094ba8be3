#include "src/devices/SimulatedDevices.h"

#include <mutex>

namespace winport::devices
{

namespace
{

SimulatedDevices* g_instance = nullptr;
std::once_flag g_created;

} // namespace

SimulatedDevices& SimulatedDevices::Instance()
{
    // Heap-allocated so that no static destructor of a library using winport can outlive it; winport's
    // own unload destroys it last.
    std::call_once(g_created, [] { g_instance = new SimulatedDevices; });
    return *g_instance;
}

void SimulatedDevices::DestroyInstance()
{
    delete g_instance;
    g_instance = nullptr;
}

DeviceControl& DeviceControl::Instance()
{
    return SimulatedDevices::Instance();
}

} // namespace winport::devices
