// The firmware image layout as a pure function of the controller's ROM signature and the image bytes: which
// layout group a controller uses and where an image's parameter tables and CRC blocks lie. It serves the
// library's locators, the virtual camera (which reads its USB identity from its flash) and offline tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace flashcore {

enum class LayoutGroup { Fixed, Short, Long, Default };

// Parameter-table start, parameter-table end and CRC block address of one parameter table.
struct ParaTableLocation {
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    std::uint32_t crcBlock = 0;
};

// Header offsets shared by every layout.
inline constexpr std::uint32_t kPresenceMarkerOffset = 0x0160;
inline constexpr std::uint32_t kTableCountOffset = 0x0164;
inline constexpr std::uint32_t kTableStrideOffset = 0x0165;

// Parameter-table field offsets.
inline constexpr std::uint32_t kVendorIdOffset = 6;
inline constexpr std::uint32_t kProductIdOffset = 8;
inline constexpr std::uint32_t kDeviceReleaseOffset = 10;
inline constexpr std::uint32_t kWpConfigOffset = 52;
inline constexpr std::uint32_t kProductStringOffset = 64;
inline constexpr std::uint32_t kManufacturerStringOffset = 128;
inline constexpr std::uint32_t kSerialStringOffset = 192;
inline constexpr std::uint32_t kInterfaceStringOffset = 320;
inline constexpr std::uint32_t kStringSlotSize = 64;

// CRC block field offsets.
inline constexpr std::uint32_t kCalibrationCrcOffset = 18;
inline constexpr std::uint32_t kParaTableCrcOffset = 20;
inline constexpr std::uint32_t kPlainManufacturerOffset = 192;

// Layout group of a controller from its 8-byte ROM signature.
LayoutGroup layoutGroupOf(const std::uint8_t* signature);

// Location of parameter table `index` of an image of `length` bytes. The fixed and default groups have one
// table at constant addresses (the default group's end is `defaultEnd`: 0 for an image, 0x8800 for a device).
// False when a header field the group needs lies outside the image.
bool locateParaTable(LayoutGroup group, const std::uint8_t* image, std::size_t length, unsigned index,
                     std::uint32_t defaultEnd, ParaTableLocation& out);

// The text of a string descriptor held in a 64-byte string slot: length byte, type 3, then 16-bit code units
// whose low bytes are the characters. False when the slot holds no descriptor or its length byte claims more
// than the slot holds.
bool decodeStringSlot(const std::uint8_t* slot, std::string& text);

} // namespace flashcore
