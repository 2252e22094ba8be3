// cfgmgr32: devnode status and the wait for pending installations, over the machine's devices.
#include <cfgmgr32.h>

#include "src/devices/SimulatedDevices.h"

extern "C" CONFIGRET WINAPI CM_Get_DevNode_Status(PULONG pulStatus, PULONG pulProblemNumber,
                                                  DEVINST dnDevInst, ULONG ulFlags)
{
    if (pulStatus == nullptr || pulProblemNumber == nullptr)
        return CR_INVALID_POINTER;
    if (ulFlags != 0)
        return CR_INVALID_FLAG;
    if (dnDevInst == 0)
        return CR_INVALID_DEVINST;
    ULONG status = 0, problem = 0;
    CONFIGRET result =
        winport::devices::SimulatedDevices::Instance().Installs().DevNodeStatus(dnDevInst, status, problem);
    if (result == CR_SUCCESS)
    {
        *pulStatus = status;
        *pulProblemNumber = problem;
    }
    return result;
}

extern "C" DWORD WINAPI CMP_WaitNoPendingInstallEvents(DWORD dwTimeout)
{
    return winport::devices::SimulatedDevices::Instance().Installs().WaitNoPendingInstalls(dwTimeout);
}
