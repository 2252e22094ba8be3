/* The public header compiles as C and its records have the documented layout there too. */
#include "KvHidRaw.h"

_Static_assert(sizeof(_stHidCapability) == 20, "capability record");
_Static_assert(sizeof(_stHidValue) == 16, "value record");

int KvHidRawHeaderCompilesAsC(void)
{
    _stHidValue value = {0};
    value.scaledValue = -1;
    return (int)sizeof(value);
}
