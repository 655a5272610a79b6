// Builds complete firmware images for the virtual camera, the tests and the sample firmware of flashtool.
//
// An image is a byte-for-byte copy of the serial flash from address 0. Where its parameter table, CRC block
// and calibration region lie depends on the layout group of the controller model that runs it:
//
//   fixed    table 0xC000..0xCF00, CRC block 0xCF00 (no header fields)
//   short    header bytes 0x0168 / 0x0169 / 0x016E: table start, table length and CRC block in 256-byte pages
//   long     header words 0x0167..0x018A: five regions as big-endian 32-bit start/length pairs
//            (0 code, 1 parameter table, 2 spare, 3 calibration, 4 CRC block)
//   default  table 0x8000..0x8800, no CRC block
//
// Every image carries the chip name at 0x0000, the version block at 0x0148 and, unless switched off, the
// presence marker "tSec" at 0x0160. Bytes the layout does not use read 0xFF like erased flash; the code area
// between the header and the parameter table holds deterministic filler bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace camsim {

enum class LayoutGroup { Fixed, Short, Long, Default };

// The layout group of the images a controller runs, from its model code (first four characters compared)
// and variant byte. Models outside the fixed, short and long groups get the default layout.
LayoutGroup layoutGroupOf(std::string_view model, std::uint8_t variant);

struct ImageDescription {
    std::string chip = "T465M"; // controller model code
    std::uint8_t variant = 1;
    std::size_t size = 128 * 1024;

    std::uint16_t vendorId = 0xFFF2;
    std::uint16_t productId = 0x0100;
    std::uint16_t bcdDevice = 0x0100;
    std::uint8_t wpConfig = 0x1B; // WP# pin on GPIO 1, permission 2

    // USB strings, 8-bit characters, at most 31 each; written as string descriptors into their slots.
    std::string product = "USB Camera";
    std::string manufacturer = "Camera Maker";
    std::string serialNumber = "SN000001";
    std::string interfaceName = "Video Control";
    // Raw text of the manufacturer slot in the CRC block (at most 32 bytes, no 0xFF byte); absent = erased.
    // Needs a CRC block, so not available in the default layout.
    std::optional<std::string> plainManufacturer;

    std::string chipName = "QLCAM"; // at most 8 characters; "QL" marks a programmed long-layout image
    std::string version = "1.0.0";  // at most 12 characters
    bool presenceMarker = true;     // "tSec" at 0x0160

    // Parameter-table start for the short layout (a multiple of 256) and the long layout; absent = the
    // group's usual place (short 0x9000, long 0x5000). The fixed and default layouts have a fixed place.
    std::optional<std::uint32_t> paraTableStart;

    // T460M: the calibration bytes placed between the start and end patterns of the calibration region.
    std::vector<std::uint8_t> calibration = std::vector<std::uint8_t>(64, 0x5A);
};

// The image described. Throws std::invalid_argument when the description does not fit its layout (a string
// too long, a table outside the image, a placement the group does not allow).
std::vector<std::uint8_t> buildImage(const ImageDescription& description);

} // namespace camsim
