#include "camsim/image_builder.h"

#include "flashcore/bytes.h"
#include "flashcore/flash/crc16.h"
#include "flashcore/flash/image_layout.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace camsim {
namespace {

using flashcore::crc16Modbus;
using flashcore::writeBe16;
using flashcore::writeBe32;

struct ModelLayout {
    char model[5]; // first four characters of the model code
    std::uint8_t variant;
    LayoutGroup group;
    bool calibrationRegion; // the calibration region carries framed calibration data and its CRC
};

// Tested in order; anything not listed uses the default layout.
constexpr std::array<ModelLayout, 14> kModelLayouts = {{
    {"T410", 1, LayoutGroup::Fixed, false},
    {"T410", 2, LayoutGroup::Short, false},
    {"T420", 1, LayoutGroup::Short, false},
    {"T425", 1, LayoutGroup::Short, false},
    {"T440", 1, LayoutGroup::Short, false},
    {"T445", 1, LayoutGroup::Short, false},
    {"T435", 1, LayoutGroup::Long, false},
    {"T470", 1, LayoutGroup::Long, false},
    {"T455", 1, LayoutGroup::Long, false},
    {"T465", 1, LayoutGroup::Long, false},
    {"T430", 1, LayoutGroup::Long, false},
    {"T450", 1, LayoutGroup::Long, false},
    {"T460", 1, LayoutGroup::Long, true},
    {"T415", 1, LayoutGroup::Long, false},
}};

const ModelLayout* findModelLayout(std::string_view model, std::uint8_t variant) {
    if (model.size() < 4) return nullptr;
    for (const ModelLayout& row : kModelLayouts)
        if (model.substr(0, 4) == std::string_view(row.model, 4) && row.variant == variant) return &row;
    return nullptr;
}

// Image header.
constexpr std::size_t kChipNameOffset = 0x0000;
constexpr std::size_t kChipNameSize = 8;
constexpr std::size_t kVersionBlockOffset = 0x0148;
constexpr std::size_t kVersionBlockSize = 24;
constexpr std::size_t kVersionTextOffset = 0x0154;
constexpr std::size_t kVersionTextSize = 12;
constexpr std::size_t kPresenceMarkerOffset = 0x0160;
constexpr std::size_t kTableCountOffset = 0x0164;
constexpr std::size_t kTableStrideOffset = 0x0165;
constexpr std::size_t kShortStartPageOffset = 0x0168;
constexpr std::size_t kShortLengthPagesOffset = 0x0169;
constexpr std::size_t kShortCrcPageOffset = 0x016E;
constexpr std::size_t kLongRegionsOffset = 0x0167; // region k start at + 8k, length at + 8k + 4
constexpr std::uint16_t kShortStride = 8;          // 0x0168..0x016F
constexpr std::uint16_t kLongStride = 36;          // 0x0167..0x018A
constexpr std::size_t kCodeStart = 0x0190;         // first byte after the header fields

// Parameter table.
constexpr std::size_t kVendorIdOffset = 6;
constexpr std::size_t kProductIdOffset = 8;
constexpr std::size_t kBcdDeviceOffset = 10;
constexpr std::size_t kWpConfigOffset = 52;
constexpr std::size_t kProductSlot = 64;
constexpr std::size_t kManufacturerSlot = 128;
constexpr std::size_t kSerialNumberSlot = 192;
constexpr std::size_t kInterfaceSlot = 320;
constexpr std::size_t kSlotSize = 64;
constexpr std::size_t kMaxDescriptorChars = 31;
constexpr std::size_t kMaxPlainChars = 32;

// CRC block.
constexpr std::size_t kCrcBlockSize = 256;
constexpr std::size_t kCodeCrcOffset = 0;
constexpr std::size_t kCalibrationCrcOffset = 18;
constexpr std::size_t kParaTableCrcOffset = 20;
constexpr std::size_t kPlainManufacturerSlot = 192;
static_assert(2 + 2 * kMaxDescriptorChars <= kSlotSize && kMaxPlainChars < kSlotSize);
static_assert(kPlainManufacturerSlot + kSlotSize <= kCrcBlockSize);

// Calibration region.
constexpr std::uint8_t kCalibrationHeaderByte = 0x40; // the firmware requires 38 or more
constexpr std::size_t kCalibrationDataOffsetField = 77;
constexpr std::uint16_t kCalibrationDataOffset = 0x80;
constexpr std::size_t kCalibrationBlockLead = 16; // the start pattern sits this far into the data area
constexpr std::array<std::uint8_t, 12> kCalibStartPattern = {0x42, 0x00, 0x04, 0x00, 0x42, 0x57,
                                                             0x7F, 0x40, 0x42, 0x58, 0xFF, 0x00};
constexpr std::array<std::uint8_t, 16> kCalibEndPattern = {0x42, 0x00, 0x02, 0x02, 0x42, 0x00, 0x04, 0x04,
                                                           0x42, 0x00, 0x01, 0x01, 0x42, 0x00, 0x40, 0x40};

// Where the parts of one image go.
struct Placement {
    std::uint32_t tableStart;
    std::uint32_t tableLength;
    std::uint32_t crcBlock; // 0: the layout has no CRC block
    std::uint32_t spareStart = 0, spareLength = 0;
    std::uint32_t calibrationStart = 0, calibrationLength = 0;
    std::uint32_t end; // first byte after everything placed
};

constexpr std::uint32_t kShortDefaultStart = 0x9000;
constexpr std::uint32_t kLongDefaultStart = 0x5000;
constexpr std::uint32_t kTableLength = 0x600;

void require(bool condition, const char* what) {
    if (!condition) throw std::invalid_argument(what);
}

Placement placementFor(LayoutGroup group, const std::optional<std::uint32_t>& requestedStart) {
    require(!requestedStart || group == LayoutGroup::Short || group == LayoutGroup::Long,
            "this layout has a fixed parameter-table place");
    switch (group) {
    case LayoutGroup::Fixed:
        return {.tableStart = 0xC000, .tableLength = 0xF00, .crcBlock = 0xCF00, .end = 0xD000};
    case LayoutGroup::Short: {
        const std::uint32_t start = requestedStart.value_or(kShortDefaultStart);
        const std::uint32_t crcBlock = start + 0x1000;
        require(start % 256 == 0, "short-layout parameter table must start on a 256-byte page");
        require(crcBlock / 256 <= 0xFF, "short-layout CRC block must lie below 64 KB");
        return {
            .tableStart = start, .tableLength = kTableLength, .crcBlock = crcBlock, .end = crcBlock + 256};
    }
    case LayoutGroup::Long: {
        const std::uint32_t start = requestedStart.value_or(kLongDefaultStart);
        require(start <= 0xFFFF0000u, "long-layout parameter table too high");
        return {.tableStart = start,
                .tableLength = kTableLength,
                .crcBlock = start + 0xD00,
                .spareStart = start + 0x800,
                .spareLength = 0x400,
                .calibrationStart = start + 0xE00,
                .calibrationLength = 0x1000,
                .end = start + 0x1E00};
    }
    case LayoutGroup::Default:
        break;
    }
    return {.tableStart = 0x8000, .tableLength = 0x800, .crcBlock = 0, .end = 0x8800};
}

void putText(std::vector<std::uint8_t>& image, std::size_t offset, std::string_view text) {
    std::copy(text.begin(), text.end(), image.data() + offset);
}

// A USB string descriptor as the library writes it: length, type 3, one 16-bit little-endian unit per 8-bit
// character, 0xFF to the end of the slot.
void putDescriptorSlot(std::vector<std::uint8_t>& image, std::size_t offset, std::string_view text) {
    require(text.size() <= kMaxDescriptorChars, "USB string longer than 31 characters");
    flashcore::encodeStringSlot(text.data(), static_cast<std::uint32_t>(text.size()),
                                flashcore::SlotFormat::Descriptor, image.data() + offset);
}

void putCalibrationRegion(std::vector<std::uint8_t>& image, const Placement& at,
                          const std::vector<std::uint8_t>& calibration) {
    const std::size_t region = at.calibrationStart;
    const std::size_t blockStart = region + kCalibrationDataOffset + kCalibrationBlockLead;
    const std::size_t endPattern = blockStart + kCalibStartPattern.size() + calibration.size();
    require(endPattern + kCalibEndPattern.size() <= region + at.calibrationLength,
            "calibration data does not fit the calibration region");

    image[region] = kCalibrationHeaderByte;
    writeBe16(&image[region + kCalibrationDataOffsetField], kCalibrationDataOffset);
    std::copy(kCalibStartPattern.begin(), kCalibStartPattern.end(), image.data() + blockStart);
    std::copy(calibration.begin(), calibration.end(), image.data() + blockStart + kCalibStartPattern.size());
    std::copy(kCalibEndPattern.begin(), kCalibEndPattern.end(), image.data() + endPattern);
}

// Deterministic stand-in for firmware code (xorshift32).
void putFillerCode(std::vector<std::uint8_t>& image, std::size_t from, std::size_t to) {
    std::uint32_t state = 0x2545F491;
    for (std::size_t i = from; i < to; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        image[i] = static_cast<std::uint8_t>(state >> 24);
    }
}

void putHeaderFields(std::vector<std::uint8_t>& image, LayoutGroup group, const Placement& at) {
    if (group == LayoutGroup::Short) {
        image[kTableCountOffset] = 1;
        writeBe16(&image[kTableStrideOffset], kShortStride);
        image[kShortStartPageOffset] = static_cast<std::uint8_t>(at.tableStart / 256);
        image[kShortLengthPagesOffset] = static_cast<std::uint8_t>(at.tableLength / 256);
        image[kShortCrcPageOffset] = static_cast<std::uint8_t>(at.crcBlock / 256);
    } else if (group == LayoutGroup::Long) {
        image[kTableCountOffset] = 1;
        writeBe16(&image[kTableStrideOffset], kLongStride);
        const auto region = [&image](std::size_t k, std::uint32_t start, std::uint32_t length) {
            writeBe32(&image[kLongRegionsOffset + 8 * k], start);
            writeBe32(&image[kLongRegionsOffset + 8 * k + 4], length);
        };
        region(0, 0, at.tableStart); // code
        region(1, at.tableStart, at.tableLength);
        region(2, at.spareStart, at.spareLength);
        region(3, at.calibrationStart, at.calibrationLength);
        writeBe32(&image[kLongRegionsOffset + 8 * 4], at.crcBlock); // region 4: 256 bytes, no length field
    }
}

} // namespace

LayoutGroup layoutGroupOf(std::string_view model, std::uint8_t variant) {
    const ModelLayout* row = findModelLayout(model, variant);
    return row ? row->group : LayoutGroup::Default;
}

std::vector<std::uint8_t> buildImage(const ImageDescription& d) {
    const ModelLayout* model = findModelLayout(d.chip, d.variant);
    const LayoutGroup group = model ? model->group : LayoutGroup::Default;
    const Placement at = placementFor(group, d.paraTableStart);

    require(at.tableStart >= kCodeStart, "parameter table overlaps the image header");
    require(at.end <= d.size, "image too small for its layout");
    require(d.chipName.size() <= kChipNameSize, "chip name longer than 8 characters");
    require(d.version.size() <= kVersionTextSize, "version text longer than 12 characters");
    require(!d.plainManufacturer || at.crcBlock != 0, "plain manufacturer slot needs a CRC block");

    std::vector<std::uint8_t> image(d.size, 0xFF);
    putFillerCode(image, kCodeStart, at.tableStart);

    std::fill_n(image.data() + kChipNameOffset, kChipNameSize, 0x00);
    putText(image, kChipNameOffset, d.chipName);
    std::fill_n(image.data() + kVersionBlockOffset, kVersionBlockSize, 0x00);
    putText(image, kVersionTextOffset, d.version);
    if (d.presenceMarker) putText(image, kPresenceMarkerOffset, "tSec");
    putHeaderFields(image, group, at);

    const std::size_t table = at.tableStart;
    writeBe16(&image[table + kVendorIdOffset], d.vendorId);
    writeBe16(&image[table + kProductIdOffset], d.productId);
    writeBe16(&image[table + kBcdDeviceOffset], d.bcdDevice);
    image[table + kWpConfigOffset] = d.wpConfig;
    putDescriptorSlot(image, table + kProductSlot, d.product);
    putDescriptorSlot(image, table + kManufacturerSlot, d.manufacturer);
    putDescriptorSlot(image, table + kSerialNumberSlot, d.serialNumber);
    putDescriptorSlot(image, table + kInterfaceSlot, d.interfaceName);

    if (at.crcBlock == 0) return image;

    const std::size_t crcBlock = at.crcBlock;
    writeBe16(&image[crcBlock + kCodeCrcOffset], crc16Modbus(&image[kCodeStart], at.tableStart - kCodeStart));
    if (d.plainManufacturer) {
        const std::string& text = *d.plainManufacturer;
        require(text.size() <= kMaxPlainChars, "plain manufacturer text longer than 32 bytes");
        require(text.find('\xFF') == std::string::npos, "plain manufacturer text holds a 0xFF byte");
        putText(image, crcBlock + kPlainManufacturerSlot, text);
    }
    if (model && model->calibrationRegion) {
        putCalibrationRegion(image, at, d.calibration);
        writeBe16(&image[crcBlock + kCalibrationCrcOffset],
                  crc16Modbus(&image[at.calibrationStart], at.calibrationLength));
    }
    writeBe16(&image[crcBlock + kParaTableCrcOffset], crc16Modbus(&image[table], at.tableLength));
    return image;
}

} // namespace camsim
