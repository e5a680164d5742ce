#include "exportguard.h"

#include <cstdio>

namespace tarvpcan3 {

void reportExportFailure(const char *exportName, const char *reason) noexcept
{
    std::fprintf(stderr, "tarvpcan3: %s: %s\n", exportName, reason != nullptr ? reason : "");
}

} // namespace tarvpcan3
