#include "machine/HidFile.h"

#include "machine/Machine.h"

namespace winport::machine
{

void HidFile::OnLastHandleClosed()
{
    Machine::Instance().Devices().OnFileClosed(*this);
}

} // namespace winport::machine
