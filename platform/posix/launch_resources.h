// The resources of a Linux program, in place of a Windows executable's resource section: a table that the
// program's build generates from its resource files.
#pragma once

#include <cstdint>
#include <span>

namespace platform::posix {

struct EmbeddedResource {
    const char16_t* type;
    std::uint16_t id;
    std::uint16_t language;
    const unsigned char* data;
    std::uint32_t size;
};

// The program's resource table, defined by the program itself.
std::span<const EmbeddedResource> embeddedResources();

} // namespace platform::posix
