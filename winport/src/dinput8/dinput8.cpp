// DirectInput8Create: the entry point of DirectInput 8.
#include "src/dinput8/DirectInput.h"
#include "src/faults/FaultPlan.h"

using winport::dinput8::DirectInput;

extern "C" HRESULT WINAPI DirectInput8Create(HINSTANCE hinst, DWORD dwVersion, REFIID riidltf, LPVOID* ppvOut,
                                             LPUNKNOWN punkOuter)
{
    if (ppvOut == nullptr)
        return DIERR_INVALIDPARAM;
    *ppvOut = nullptr;
    if (punkOuter != nullptr)
        return DIERR_NOAGGREGATION;
    // Only the wide interface exists on this machine.
    if (riidltf != IID_IDirectInput8W)
        return DIERR_NOINTERFACE;
    if (const HRESULT fault = winport::faults::FaultHresult(winport::faults::WinportCall::DirectInput8Create))
        return fault;
    auto* object = new DirectInput;
    // The module handle is checked here, so a module that is not loaded fails the creation.
    HRESULT status = object->Initialize(hinst, dwVersion);
    if (FAILED(status))
    {
        object->Release();
        return status;
    }
    *ppvOut = static_cast<IDirectInput8W*>(object);
    return DI_OK;
}
