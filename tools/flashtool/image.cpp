// flashtool's offline image commands: make a sample image, and show what an image holds as a given
// controller model would read it.
#include "commands.h"

#include "camsim/image_builder.h"
#include "flashcore/bytes.h"
#include "flashcore/connection/chip_table.h"
#include "flashcore/flash/crc16.h"
#include "flashcore/flash/image_layout.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace flashtool {

namespace {

const char* groupName(flashcore::LayoutGroup group) {
    switch (group) {
    case flashcore::LayoutGroup::Fixed:
        return "fixed";
    case flashcore::LayoutGroup::Short:
        return "short";
    case flashcore::LayoutGroup::Long:
        return "long";
    case flashcore::LayoutGroup::Default:
        return "default";
    }
    return "?";
}

const flashcore::ChipRow* chipRow(const std::string& model, int variant) {
    for (const flashcore::ChipRow& row : flashcore::ChipTable)
        if (model.size() == 5 && std::memcmp(row.signature.data(), model.data(), 5) == 0 &&
            row.signature[5] == variant)
            return &row;
    return nullptr;
}

std::string slotText(const std::uint8_t* slot,
                     flashcore::SlotFormat format = flashcore::SlotFormat::Descriptor) {
    std::string text;
    return flashcore::decodeStringSlot(slot, format, text) && !text.empty() ? "\"" + text + "\"" : "(none)";
}

} // namespace

int runImageNew(const Options& options, const std::string& path) {
    camsim::ImageDescription d;
    d.chip = options.chip;
    d.variant = static_cast<std::uint8_t>(options.variant);
    if (options.length) d.size = options.length;
    if (!options.serial.empty()) d.serialNumber = options.serial;
    if (!options.manufacturer.empty()) d.manufacturer = options.manufacturer;
    std::vector<std::uint8_t> image;
    try {
        image = camsim::buildImage(d);
    } catch (const std::invalid_argument& e) {
        return fail(e.what());
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    if (!out) return fail("cannot write " + path);
    std::printf("wrote a %zu-byte %s image to %s\n", image.size(), d.chip.c_str(), path.c_str());
    return 0;
}

int runImageInfo(const Options& options, const std::string& path) {
    std::vector<unsigned char> image;
    if (!readImage(path, image)) return 1;
    const flashcore::ChipRow* row = chipRow(options.chip, options.variant);
    if (!row) return fail("unknown controller model " + options.chip);
    const flashcore::LayoutGroup group = flashcore::layoutGroupOf(row->signature.data());
    std::printf("image:           %s, %zu bytes\n", path.c_str(), image.size());
    std::printf("layout group:    %s (%s variant %d)\n", groupName(group), options.chip.c_str(),
                options.variant);
    if (image.size() < 0x190) return fail("the image is too short for an image header");
    std::printf("chip name:       %.8s\n", reinterpret_cast<const char*>(image.data()));
    std::printf("version text:    %.12s\n", reinterpret_cast<const char*>(image.data() + 0x154));
    std::printf("presence marker: %s\n",
                std::memcmp(image.data() + 0x160, "tSec", 4) == 0 ? "tSec" : "absent");

    flashcore::ParaTableLocation loc;
    if (!flashcore::locateParaTable(group, image.data(), image.size(), 0, 0, loc))
        return fail("the image is too short for the header fields of its layout");
    std::printf("parameter table: 0x%X..0x%X, CRC block 0x%X\n", loc.start, loc.end, loc.crcBlock);
    if (loc.end < loc.start || loc.end > image.size() ||
        loc.start + flashcore::kInterfaceStringOffset + 64 > image.size())
        return fail("the parameter table lies outside the image");
    const std::uint8_t* table = image.data() + loc.start;
    std::printf("USB ids:         VID 0x%04X  PID 0x%04X  bcdDevice 0x%04X\n",
                flashcore::readBe16(table + flashcore::kVendorIdOffset),
                flashcore::readBe16(table + flashcore::kProductIdOffset),
                flashcore::readBe16(table + flashcore::kDeviceReleaseOffset));
    const std::uint8_t wp = table[flashcore::kWpConfigOffset];
    std::printf("write protect:   0x%02X (pin mode %d, permission %d, pin %d)\n", wp, wp & 3, (wp >> 2) & 3,
                (wp >> 4) & 7);
    std::printf("product:         %s\n", slotText(table + flashcore::kProductStringOffset).c_str());
    std::printf("manufacturer:    %s\n", slotText(table + flashcore::kManufacturerStringOffset).c_str());
    std::printf("serial number:   %s\n", slotText(table + flashcore::kSerialStringOffset).c_str());
    std::printf("interface:       %s\n", slotText(table + flashcore::kInterfaceStringOffset).c_str());
    if (loc.crcBlock == 0) {
        std::puts("CRC:             none (this layout has no CRC block)");
        return 0;
    }
    if (loc.crcBlock + flashcore::kPlainManufacturerOffset + 64 > image.size())
        return fail("the CRC block lies outside the image");
    const std::uint8_t* crc = image.data() + loc.crcBlock;
    const std::uint16_t stored = flashcore::readBe16(crc + flashcore::kParaTableCrcOffset);
    const std::uint16_t computed = flashcore::crc16Modbus(table, loc.end - loc.start);
    std::printf("CRC:             stored 0x%04X, computed 0x%04X: %s\n", stored, computed,
                stored == computed ? "good" : "MISMATCH");
    std::printf("plain maker:     %s\n",
                slotText(crc + flashcore::kPlainManufacturerOffset, flashcore::SlotFormat::Plain).c_str());
    return stored == computed ? 0 : 1;
}

} // namespace flashtool
