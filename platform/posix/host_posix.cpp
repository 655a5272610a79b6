#include "platform/posix/host_posix.h"

#include <cstdio>
#include <cstdlib>

namespace platform::posix {

void debugOutput(const char* text) {
    static const bool enabled = std::getenv("FWT_DEBUG_OUTPUT") != nullptr;
    if (enabled && text) std::fputs(text, stderr);
}

} // namespace platform::posix
