// The image builder's output is read back here by a small reader of its own, written from the image layout
// (header fields per layout group, parameter table, string slots, CRC block, calibration region), so a
// builder that misplaces a field cannot agree with itself.
#include "camsim/image_builder.h"
#include "flashcore/bytes.h"
#include "flashcore/flash/crc16.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using camsim::buildImage;
using camsim::ImageDescription;
using camsim::LayoutGroup;
using Image = std::vector<std::uint8_t>;

std::uint16_t crcOf(const Image& image, std::size_t from, std::size_t to) {
    EXPECT_LE(to, image.size());
    return flashcore::crc16Modbus(image.data() + from, to - from);
}

std::uint16_t be16(const Image& image, std::size_t at) {
    return static_cast<std::uint16_t>(image.at(at) << 8 | image.at(at + 1));
}

std::uint32_t be32(const Image& image, std::size_t at) {
    return std::uint32_t{be16(image, at)} << 16 | be16(image, at + 2);
}

std::string textAt(const Image& image, std::size_t at, std::size_t n) {
    return std::string(image.begin() + static_cast<std::ptrdiff_t>(at),
                       image.begin() + static_cast<std::ptrdiff_t>(at + n));
}

bool allErased(const Image& image, std::size_t from, std::size_t to) {
    return std::all_of(image.begin() + static_cast<std::ptrdiff_t>(from),
                       image.begin() + static_cast<std::ptrdiff_t>(to),
                       [](std::uint8_t b) { return b == 0xFF; });
}

struct Location {
    std::uint32_t start, end, crcBlock;
};

// Parameter table and CRC block as the locators of the layout group find them in an image.
Location locate(const Image& image, LayoutGroup group) {
    switch (group) {
    case LayoutGroup::Fixed:
        return {0xC000, 0xCF00, 0xCF00};
    case LayoutGroup::Short: {
        const std::uint32_t start = image.at(0x0168) * 256u;
        return {start, start + image.at(0x0169) * 256u, image.at(0x016E) * 256u};
    }
    case LayoutGroup::Long: {
        const std::uint32_t start = be32(image, 0x016F);
        return {start, start + be32(image, 0x0173), be32(image, 0x0187)};
    }
    case LayoutGroup::Default:
        break;
    }
    return {0x8000, 0x8800, 0}; // the device's end; an image locator reports 0
}

// The text of a USB string descriptor slot; fails the test when the slot is not a well-formed descriptor
// followed by erased bytes.
std::string descriptorText(const Image& image, std::size_t slot) {
    const std::size_t length = image.at(slot);
    EXPECT_EQ(image.at(slot + 1), 3) << "descriptor type at " << slot;
    EXPECT_TRUE(length % 2 == 0 && length >= 2 && length <= 64) << "descriptor length " << length;
    std::string text;
    for (std::size_t i = 2; i + 1 < length; i += 2) {
        text += static_cast<char>(image.at(slot + i));
        EXPECT_EQ(image.at(slot + i + 1), 0) << "high byte of unit " << i / 2;
    }
    EXPECT_TRUE(allErased(image, slot + length, slot + 64)) << "slot tail at " << slot;
    return text;
}

std::optional<std::size_t> find(const Image& image, std::size_t from, std::size_t to, const auto& pattern) {
    const auto it =
        std::search(image.begin() + static_cast<std::ptrdiff_t>(from),
                    image.begin() + static_cast<std::ptrdiff_t>(to), pattern.begin(), pattern.end());
    if (it == image.begin() + static_cast<std::ptrdiff_t>(to)) return std::nullopt;
    return static_cast<std::size_t>(it - image.begin());
}

constexpr std::array<std::uint8_t, 12> kStartPattern = {0x42, 0x00, 0x04, 0x00, 0x42, 0x57,
                                                        0x7F, 0x40, 0x42, 0x58, 0xFF, 0x00};
constexpr std::array<std::uint8_t, 16> kEndPattern = {0x42, 0x00, 0x02, 0x02, 0x42, 0x00, 0x04, 0x04,
                                                      0x42, 0x00, 0x01, 0x01, 0x42, 0x00, 0x40, 0x40};

ImageDescription describe(const char* chip, std::uint8_t variant, std::size_t size) {
    ImageDescription d;
    d.chip = chip;
    d.variant = variant;
    d.size = size;
    return d;
}

TEST(Crc16Modbus, MatchesKnownValues) {
    const std::string check = "123456789";
    EXPECT_EQ(flashcore::crc16Modbus(reinterpret_cast<const std::uint8_t*>(check.data()), check.size()),
              0x4B37);
    const std::uint8_t request[] = {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A};
    EXPECT_EQ(flashcore::crc16Modbus(request, sizeof request), 0xCDC5);
    EXPECT_EQ(flashcore::crc16Modbus(nullptr, 0), 0xFFFF);
}

TEST(ByteOrder, HelpersPlaceTheMostSignificantByteAsNamed) {
    std::uint8_t b[4] = {};
    flashcore::writeBe32(b, 0x00015D00);
    EXPECT_EQ((std::array<std::uint8_t, 4>{b[0], b[1], b[2], b[3]}),
              (std::array<std::uint8_t, 4>{0x00, 0x01, 0x5D, 0x00}));
    EXPECT_EQ(flashcore::readBe32(b), 0x00015D00u);
    EXPECT_EQ(flashcore::readLe32(b), 0x005D0100u);
    flashcore::writeLe16(b, 0x9012);
    EXPECT_EQ(b[0], 0x12);
    EXPECT_EQ(flashcore::readBe16(b), 0x1290);
    flashcore::writeBe16(b + 2, 0xA0B0);
    EXPECT_EQ(flashcore::readLe16(b + 2), 0xB0A0);
    flashcore::writeLe32(b, 0x01020304);
    EXPECT_EQ(flashcore::readBe32(b), 0x04030201u);
}

struct LayoutCase {
    const char* chip;
    std::uint8_t variant;
    std::size_t size;
    std::optional<std::uint32_t> start;
    LayoutGroup group;
    Location expected;
};

class ImageLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ImageLayout, ReadsBackThroughTheGroupsHeaderFields) {
    const LayoutCase& c = GetParam();
    ImageDescription d = describe(c.chip, c.variant, c.size);
    d.paraTableStart = c.start;
    d.vendorId = 0x1234;
    d.productId = 0xABCD;
    d.bcdDevice = 0x0215;
    d.wpConfig = 0x08;
    d.product = "Cam";
    d.manufacturer = "ABCD";
    d.serialNumber = "";
    d.interfaceName = "0123456789012345678901234567890"; // 31 characters, fills the slot
    const Image image = buildImage(d);

    ASSERT_EQ(image.size(), c.size);
    EXPECT_EQ(camsim::layoutGroupOf(c.chip, c.variant), c.group);
    const Location at = locate(image, c.group);
    EXPECT_EQ(at.start, c.expected.start);
    EXPECT_EQ(at.end, c.expected.end);
    EXPECT_EQ(at.crcBlock, c.expected.crcBlock);
    ASSERT_LE(at.end, image.size());

    // Header: chip name, version text, presence marker, one parameter table.
    EXPECT_EQ(textAt(image, 0x0000, 8), std::string("QLCAM\0\0\0", 8));
    EXPECT_EQ(textAt(image, 0x0154, 12), std::string("1.0.0\0\0\0\0\0\0\0", 12));
    EXPECT_EQ(textAt(image, 0x0160, 4), "tSec");
    if (c.group == LayoutGroup::Short || c.group == LayoutGroup::Long) {
        EXPECT_EQ(image[0x0164], 1);
    }
    if (c.group == LayoutGroup::Long) {
        for (std::size_t k = 0; k < 4; ++k) {
            const std::uint32_t start = be32(image, 0x0167 + 8 * k), length = be32(image, 0x016B + 8 * k);
            EXPECT_NE(length, 0u) << "region " << k;
            EXPECT_LE(start + length, image.size()) << "region " << k;
        }
        EXPECT_EQ(be32(image, 0x016B), at.start) << "code region runs up to the parameter table";
    }
    // Firmware code between the header and the parameter table, not an erased area.
    const auto codeBytes = std::count_if(image.begin() + 0x0190, image.begin() + at.start,
                                         [](std::uint8_t b) { return b != 0xFF; });
    EXPECT_GT(codeBytes, static_cast<std::ptrdiff_t>(at.start - 0x0190) / 2);

    // Parameter table.
    EXPECT_EQ(be16(image, at.start + 6), 0x1234);
    EXPECT_EQ(be16(image, at.start + 8), 0xABCD);
    EXPECT_EQ(be16(image, at.start + 10), 0x0215);
    EXPECT_EQ(image.at(at.start + 52), 0x08);
    EXPECT_EQ(descriptorText(image, at.start + 64), "Cam");
    EXPECT_EQ(descriptorText(image, at.start + 128), "ABCD");
    EXPECT_EQ(descriptorText(image, at.start + 192), "");
    EXPECT_EQ(descriptorText(image, at.start + 320), d.interfaceName);

    // CRC block: parameter-table CRC high byte first; the plain manufacturer slot erased.
    if (at.crcBlock != 0) {
        EXPECT_EQ(be16(image, at.crcBlock + 20), crcOf(image, at.start, at.end));
        EXPECT_TRUE(allErased(image, at.crcBlock + 192, at.crcBlock + 256));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Groups, ImageLayout,
    ::testing::Values(
        LayoutCase{"T410M", 1, 0x10000, std::nullopt, LayoutGroup::Fixed, {0xC000, 0xCF00, 0xCF00}},
        LayoutCase{"T410M", 2, 0x10000, std::nullopt, LayoutGroup::Short, {0x9000, 0x9600, 0xA000}},
        LayoutCase{"T445M", 1, 0x10000, 0x4000, LayoutGroup::Short, {0x4000, 0x4600, 0x5000}},
        LayoutCase{"T465M", 1, 0x20000, 0x15000, LayoutGroup::Long, {0x15000, 0x15600, 0x15D00}},
        LayoutCase{"T415M", 1, 0x8000, std::nullopt, LayoutGroup::Long, {0x5000, 0x5600, 0x5D00}},
        LayoutCase{"T460M", 1, 0x10000, std::nullopt, LayoutGroup::Long, {0x5000, 0x5600, 0x5D00}},
        LayoutCase{"T430M", 2, 0x10000, std::nullopt, LayoutGroup::Default, {0x8000, 0x8800, 0}},
        LayoutCase{"T499M", 1, 0x10000, std::nullopt, LayoutGroup::Default, {0x8000, 0x8800, 0}}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) {
        return std::string(info.param.chip) + "v" + std::to_string(info.param.variant);
    });

TEST(ImageBuilder, T460mCalibrationRegionIsFramedByThePatternsAndCovered) {
    ImageDescription d = describe("T460M", 1, 0x10000);
    d.calibration = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const Image image = buildImage(d);

    const std::uint32_t region = be32(image, 0x017F), length = be32(image, 0x0183);
    const std::uint32_t crcBlock = be32(image, 0x0187);
    ASSERT_LE(region + length, image.size());
    EXPECT_GE(image[region], 38);
    const std::uint32_t data = region + be16(image, region + 77);
    ASSERT_LT(data, region + length);

    const auto start = find(image, data, region + length, kStartPattern);
    const auto end = find(image, data, region + length, kEndPattern);
    ASSERT_TRUE(start && end);
    EXPECT_GT(*start, data) << "a pattern at the first byte of the data area counts as absent";
    EXPECT_EQ(Image(image.begin() + static_cast<std::ptrdiff_t>(*start + 12),
                    image.begin() + static_cast<std::ptrdiff_t>(*end)),
              d.calibration);
    EXPECT_EQ(be16(image, crcBlock + 18), crcOf(image, region, region + length));
}

TEST(ImageBuilder, OnlyT460mCarriesCalibrationData) {
    const Image image = buildImage(describe("T465M", 1, 0x10000));
    const std::uint32_t crcBlock = be32(image, 0x0187);
    EXPECT_FALSE(find(image, 0, image.size(), kStartPattern));
    EXPECT_FALSE(find(image, 0, image.size(), kEndPattern));
    EXPECT_EQ(be16(image, crcBlock + 18), 0xFFFF);
}

TEST(ImageBuilder, PlainManufacturerSlotIsRawTextOutsideEveryCrc) {
    for (const std::string text : {"ABCD", "0123456789abcdef0123456789ABCDEF"}) {
        ImageDescription d = describe("T425M", 1, 0x10000);
        const Image without = buildImage(d);
        d.plainManufacturer = text;
        const Image with = buildImage(d);

        const std::uint32_t crcBlock = with[0x016E] * 256u;
        EXPECT_EQ(textAt(with, crcBlock + 192, text.size()), text);
        EXPECT_TRUE(allErased(with, crcBlock + 192 + text.size(), crcBlock + 256));
        // Nothing else changes, CRC words included.
        Image restored = with;
        std::fill_n(restored.begin() + crcBlock + 192, text.size(), 0xFF);
        EXPECT_EQ(restored, without) << text;
    }
}

TEST(ImageBuilder, PresenceMarkerIsTheOnlyDifferenceOfAnImageWithoutIt) {
    ImageDescription d = describe("T465M", 1, 0x20000);
    const Image complete = buildImage(d);
    EXPECT_EQ(buildImage(d), complete) << "images are deterministic";
    d.presenceMarker = false;
    Image unmarked = buildImage(d);
    EXPECT_TRUE(allErased(unmarked, 0x0160, 0x0164));
    std::copy_n("tSec", 4, unmarked.begin() + 0x0160);
    EXPECT_EQ(unmarked, complete);
}

TEST(ImageBuilder, RefusesDescriptionsThatDoNotFitTheLayout) {
    const std::vector<std::pair<const char*, std::function<void(ImageDescription&)>>> cases = {
        {"32-character USB string", [](ImageDescription& d) { d.serialNumber = std::string(32, 'S'); }},
        {"33-byte plain manufacturer",
         [](ImageDescription& d) { d.plainManufacturer = std::string(33, 'M'); }},
        {"0xFF in plain manufacturer", [](ImageDescription& d) { d.plainManufacturer = "A\xFF"; }},
        {"13-character version", [](ImageDescription& d) { d.version = "1234567890123"; }},
        {"9-character chip name", [](ImageDescription& d) { d.chipName = "QL3456789"; }},
        {"image too small", [](ImageDescription& d) { d.size = 0x6000; }},
        {"table past the image end", [](ImageDescription& d) { d.paraTableStart = 0x1F000; }},
        {"table over the header", [](ImageDescription& d) { d.paraTableStart = 0x0100; }},
        {"short table off a page", [](ImageDescription& d) { d.chip = "T420M", d.paraTableStart = 0x9080; }},
        {"short CRC block above 64 KB",
         [](ImageDescription& d) { d.chip = "T420M", d.paraTableStart = 0xF000; }},
        {"fixed table moved", [](ImageDescription& d) { d.chip = "T410M", d.paraTableStart = 0x9000; }},
        {"default table moved", [](ImageDescription& d) { d.chip = "T499M", d.paraTableStart = 0x9000; }},
        {"plain slot without CRC block",
         [](ImageDescription& d) { d.chip = "T499M", d.plainManufacturer = "A"; }},
        {"calibration too large",
         [](ImageDescription& d) { d.chip = "T460M", d.calibration.resize(0x1000); }},
    };
    for (const auto& [name, change] : cases) {
        ImageDescription d = describe("T465M", 1, 0x20000);
        change(d);
        EXPECT_THROW(buildImage(d), std::invalid_argument) << name;
    }
}

} // namespace
