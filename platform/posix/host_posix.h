// Host services of Linux that the simulated host builds on.
#pragma once

namespace platform::posix {

// Debug output: written to standard error when FWT_DEBUG_OUTPUT is set, otherwise dropped (as on Windows,
// where nobody sees it unless a debugger listens).
void debugOutput(const char* text);

} // namespace platform::posix
