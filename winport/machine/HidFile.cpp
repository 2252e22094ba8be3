#include "machine/HidFile.h"

#include "machine/Machine.h"

namespace winport::machine
{

HidFile::~HidFile()
{
    for (PendingRead* read : pending)
        if (read->heap)
            delete read;
}

void HidFile::OnLastHandleClosed()
{
    Machine::Instance().Devices().OnFileClosed(*this);
}

} // namespace winport::machine
