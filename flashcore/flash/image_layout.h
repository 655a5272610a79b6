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

// The two kinds of 64-byte string slot. A descriptor slot holds a USB string descriptor: length byte 2n + 2,
// type 3, then n 16-bit little-endian code units whose low bytes are the characters. A plain slot holds the
// raw characters, ended by the first 0xFF byte.
enum class SlotFormat { Descriptor, Plain };

// Most characters a slot written by the library holds.
inline constexpr std::uint32_t kMaxSlotText = 31;
// Most characters a plain slot is read as (its first 32 bytes without a 0xFF).
inline constexpr std::uint32_t kMaxPlainSlotText = 32;

// The text of a 64-byte slot. Descriptor slots are decoded from their length byte alone: n = (byte 0 - 2) / 2
// truncated toward zero, so 1 gives an empty text; byte 0 = 0 or a length byte above 64 (an erased slot
// reads 0xFF) claims more than the slot holds and gives false. Plain slots: the bytes before the first 0xFF
// among the first 32.
bool decodeStringSlot(const std::uint8_t* slot, SlotFormat format, std::string& text);

// Fills the 64-byte `slot` with `length` characters as the library writes them, every byte after the text
// 0xFF. False, with `slot` unchanged, when `text` is null or `length` is above kMaxSlotText.
bool encodeStringSlot(const char* text, std::uint32_t length, SlotFormat format, std::uint8_t* slot);

// A copy of flash addresses [base, base + length) held in memory: a whole image (base 0) or a run of sectors.
struct FlashWindow {
    std::uint8_t* bytes;
    std::uint32_t base;
    std::uint32_t length;

    // The `size` bytes from flash address `address` lie inside the window. Addresses are taken 64 bits wide
    // so that a table address plus a field offset cannot wrap around.
    bool holds(std::uint64_t address, std::uint64_t size) const {
        return address >= base && address + size <= std::uint64_t{base} + length;
    }
    std::uint8_t* at(std::uint64_t address) const { return bytes + (address - base); }
};

// Whether the parameter-table CRC of `table` can be refreshed inside `window`: true when the table has no
// CRC block (nothing to refresh), otherwise when the table (start to end) and the CRC word at CRC block + 20
// lie inside the window.
bool paraTableCrcFits(const FlashWindow& window, const ParaTableLocation& table);

// Whether the CRC stored at CRC block + 20 is the CRC of the table as the window holds it (true for a table
// without a CRC block). Callers check paraTableCrcFits first.
bool paraTableCrcHolds(const FlashWindow& window, const ParaTableLocation& table);

// After a change inside the parameter table: stores the CRC-16/MODBUS of start to end at CRC block + 20,
// high byte first. A table without a CRC block (address 0) keeps no CRC. Callers check paraTableCrcFits
// first.
void refreshParaTableCrc(const FlashWindow& window, const ParaTableLocation& table);

} // namespace flashcore
