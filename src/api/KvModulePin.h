// Keeps the library's code and KvCommon's loaded for a thread that still runs in them when the library
// unloads (a service notification that outlived the service's bounded wait).
#pragma once

class CKvModulePin
{
public:
    // Windows: pins both modules for the rest of the process and returns true; the unload then leaves
    // their code and data mapped. Elsewhere returns false: the loader has decided what to unmap before
    // the library's detach runs, so a pin taken there cannot hold the unload back.
    static bool PinLibraryModules();
};
