// The burn engine: writes a whole firmware image into the flash of slot 0 between an unprotect and a
// protect, then reads it back and compares; and the small operations around a burn.
#pragma once

#include <cstdint>

namespace flashcore {

// `kind` (with `textLength` above 0): the string kind stamped into the image first (see strings.h).
bool burnImage(std::uint8_t* image, std::uint32_t length, const char* text, std::uint32_t textLength,
               std::uint16_t kind, std::uint32_t* protectedOut);
// Raises the controller clock on the chips that support it.
bool burstDevice();
// True when the flash holds no complete image (no presence marker), a failed read included.
bool isFirmwareEmpty();
bool eraseDeviceFirmware();
int burnPercent();

} // namespace flashcore
