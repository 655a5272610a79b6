// Writing the kit into the temporary directory and starting the updater.
#pragma once

#include "platform/launch.h"

#include <cstdint>
#include <string_view>

namespace launcher {

// Writes the resource `type`/`id` of the program's own executable into the file `targetPath`, created anew
// (an existing file is truncated) without sharing. Fails when the resource is missing or empty, when the
// path's absolute form is longer than MAX_PATH, when the file cannot be created or the write falls short.
bool writeResource(platform::Launch& os, const char16_t* type, std::uint16_t id,
                   std::u16string_view targetPath);

// Writes the kit in the order of the inventory, each resource only if the one before it was written, and
// starts the updater once all are. Starts nothing when a write fails; what was written stays.
void extractAndStart(platform::Launch& os);

} // namespace launcher
