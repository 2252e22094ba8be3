#include "KvVirtualDevExports.h"

#include "KvGlobals.h"
#include "KvHidDirectInput.h"

namespace
{
// Text of the library, handed out as is and never freed.
WCHAR virtualKeyboardName[] = TEXT("Virtual Keyboard");
WCHAR virtualMouseName[] = TEXT("Virtual Mouse");
} // namespace

uint32_t GetVirtualDeviceName(uint32_t id, KvHRWChar** name)
{
    *name = id == VIRTUAL_KEYBOARD_ID ? virtualKeyboardName : virtualMouseName;
    return ERROR_SUCCESS;
}

uint32_t SetVirtualDevPolling(uint32_t id, uint8_t poll)
{
    const DWORD index = VirtualDevIndex(id);
    hidDirectInput.SetPolling(index, poll);
    if (poll == 0)
    {
        hidDirectInput.StopPollingTimers();
        return ERROR_SUCCESS;
    }
    return hidDirectInput.StartPollingTimer(index) == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}
