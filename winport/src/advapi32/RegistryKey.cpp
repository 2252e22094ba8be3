#include "src/advapi32/RegistryKey.h"

namespace winport::advapi32
{

std::u16string FoldName(const std::u16string& name)
{
    std::u16string folded(name);
    _wcsupr(&folded[0]);
    return folded;
}

} // namespace winport::advapi32
