// The locators of parameter tables and CRC blocks: in an image held in memory or in the flash of slot 0,
// single or one per descriptor. All of them interpret the layout by the controller of slot 0.
#pragma once

#include "flashcore/flash/image_layout.h"

#include <cstdint>

namespace flashcore {

// The multi-table locators hold at most this many descriptors; a larger count is refused.
inline constexpr std::uint32_t kMaxParaTables = 100;

bool locateDeviceParaTable(ParaTableLocation& out);
// `out` holds kMaxParaTables entries; `count` receives the number of tables.
bool locateImageParaTables(const std::uint8_t* image, std::uint32_t length, ParaTableLocation* out,
                           std::uint32_t& count);
bool locateDeviceParaTables(ParaTableLocation* out, std::uint32_t& count);

} // namespace flashcore
