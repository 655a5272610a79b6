// The seam's GUIDs as Windows GUID structures (both keep the 16 bytes in memory order).
#pragma once

#include "platform/com.h"

#include <windows.h>

#include <cstring>

namespace platform::win32 {

inline GUID toGuid(const Guid& g) {
    GUID out;
    static_assert(sizeof(out) == 16);
    std::memcpy(&out, g.bytes.data(), 16);
    return out;
}

} // namespace platform::win32
