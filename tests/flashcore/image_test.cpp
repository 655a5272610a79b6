// Locating the parameter table and CRC block of an image in memory and of the flash, by the layout of the
// controller on slot 0.
#include "fixture.h"

#include "camsim/image_builder.h"
#include "flashcore/bytes.h"

namespace fwtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Locators = CameraTest;

struct Triple {
    fw_ulong start, end, crc;
    bool operator==(const Triple&) const = default;
};

Triple fromImage(Bytes& image) {
    Triple t{};
    EXPECT_TRUE(GetParaTableAndCRCAddrFromBinFile(&t.start, &t.end, &t.crc, image.data(),
                                                  static_cast<fw_ulong>(image.size())));
    return t;
}

Triple fromDevice() {
    Triple t{};
    EXPECT_TRUE(GetParaTableAndCRCAddrFromDevice(&t.start, &t.end, &t.crc));
    return t;
}

TEST_F(Locators, LongLayoutHeaderFields) {
    camsim::ImageDescription d;
    d.paraTableStart = 0x15000;
    Bytes image = camsim::buildImage(d);
    // The header holds 00 01 50 00, 00 00 06 00 and 00 01 5D 00 at 0x016F, 0x0173 and 0x0187.
    EXPECT_EQ(Bytes(image.begin() + 0x16F, image.begin() + 0x173), (Bytes{0x00, 0x01, 0x50, 0x00}));
    camsim::CameraConfig c = config(13);
    c.firmware = image;
    camsim::Camera& camera = attach(c);
    ASSERT_EQ(open(camera), 2);
    EXPECT_EQ(fromImage(image), (Triple{0x15000, 0x15600, 0x15D00}));
    EXPECT_EQ(fromDevice(), (Triple{0x15000, 0x15600, 0x15D00}));
    fw_ulong wp = 0;
    ASSERT_TRUE(QUELT_GetWPAddrBinFile(image.data(), static_cast<fw_ulong>(image.size()), &wp));
    EXPECT_EQ(wp, 0x15000u + 52);
    ASSERT_TRUE(QUELT_GetWPAddrDevice(&wp));
    EXPECT_EQ(wp, 0x15000u + 52);
}

TEST_F(Locators, GroupsByControllerOfSlotZero) {
    struct Case {
        const char* name;
        int family;
        char map;
        std::uint8_t byte6; // 0: as the controller table says
        Triple image;
        Triple device;
    };
    const Case cases[] = {
        {"short layout", 2, 'A', 0, {0x9000, 0x9600, 0xA000}, {0x9000, 0x9600, 0xA000}},
        {"fixed layout whatever the header says",
         0,
         'A',
         0,
         {0xC000, 0xCF00, 0xCF00},
         {0xC000, 0xCF00, 0xCF00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        // A short-layout image with bytes 0x90, 0x06 at 0x0168 and 0xA0 at 0x016E.
        camsim::ImageDescription d;
        d.chip = "T420M";
        Bytes image = camsim::buildImage(d);
        ASSERT_EQ(image[0x168], 0x90);
        camsim::CameraConfig cfg = config(c.family, c.map);
        cfg.firmware = image;
        camsim::Camera& camera = attach(cfg);
        ASSERT_EQ(open(camera), 2);
        EXPECT_EQ(fromImage(image), c.image);
        EXPECT_EQ(fromDevice(), c.device);
        UnInitialize_DriverInterface();
    }
}

TEST_F(Locators, DefaultLayoutForControllersOutsideTheGroups) {
    // A T430M whose ROM signature byte 6 is not 'F' uses the default layout.
    camsim::Camera& camera = attach(config(7, 'A'));
    const std::uint16_t rom = 0xAFF8;
    ASSERT_EQ(camera.romSignature()[6], 'F');
    camera.pokeRom(rom + 6, 'E');
    ASSERT_EQ(open(camera), 2);
    Bytes image(0x20000, 0xFF);
    EXPECT_EQ(fromImage(image), (Triple{0x8000, 0, 0}));
    EXPECT_EQ(fromDevice(), (Triple{0x8000, 0x8800, 0}));
}

TEST_F(Locators, MultiTableCounts) {
    camsim::Camera& camera = attach(config(13));
    ASSERT_EQ(open(camera), 2);
    camsim::ImageDescription d;
    Bytes image = camsim::buildImage(d);
    fw_ulong starts[100], ends[100], crcs[100], count = 99;

    // Two descriptors, the second one stride bytes further.
    image[0x164] = 2;
    flashcore::writeBe16(image.data() + 0x165, 36);
    flashcore::writeBe32(image.data() + 0x16F + 36, 0x7000);
    flashcore::writeBe32(image.data() + 0x173 + 36, 0x200);
    flashcore::writeBe32(image.data() + 0x187 + 36, 0x7800);
    ASSERT_TRUE(GetParaTablesAndCRCAddrsFromBinFile(starts, ends, crcs, image.data(), 0x20000, &count));
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(starts[1], 0x7000u);
    EXPECT_EQ(ends[1], 0x7200u);
    EXPECT_EQ(crcs[1], 0x7800u);

    // Count 0: true, nothing written.
    image[0x164] = 0;
    starts[0] = 12345;
    ASSERT_TRUE(GetParaTablesAndCRCAddrsFromBinFile(starts, ends, crcs, image.data(), 0x20000, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(starts[0], 12345u);

    // More descriptors than the locator holds, or descriptors past the end of the image: refused.
    image[0x164] = 101;
    EXPECT_FALSE(GetParaTablesAndCRCAddrsFromBinFile(starts, ends, crcs, image.data(), 0x20000, &count));
    image[0x164] = 3;
    flashcore::writeBe16(image.data() + 0x165, 0xFFF0);
    EXPECT_FALSE(GetParaTablesAndCRCAddrsFromBinFile(starts, ends, crcs, image.data(), 0x20000, &count));

    // The same through the flash.
    camera.flash().contents() = camsim::buildImage(d);
    ASSERT_TRUE(GetParaTablesAndCRCAddrsFromDevice(starts, ends, crcs, &count));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(starts[0], 0x5000u);
}

TEST_F(Locators, ShortImagesAreRefused) {
    camsim::Camera& camera = attach(config(13));
    ASSERT_EQ(open(camera), 2);
    Bytes image(0x180, 0x00);
    fw_ulong a = 0, b = 0, c = 0;
    EXPECT_FALSE(GetParaTableAndCRCAddrFromBinFile(&a, &b, &c, image.data(), 0x180));
    EXPECT_FALSE(QUELT_GetWPAddrBinFile(image.data(), 0x180, &a));
    EXPECT_FALSE(GetParaTableAndCRCAddrFromBinFile(&a, &b, &c, nullptr, 0x20000));
}

TEST_F(Locators, NeedSlotZeroOpen) {
    Bytes image(0x20000, 0xFF);
    fw_ulong a = 0, b = 0, c = 0;
    EXPECT_FALSE(GetParaTableAndCRCAddrFromBinFile(&a, &b, &c, image.data(), 0x20000));
    EXPECT_FALSE(GetParaTableAndCRCAddrFromDevice(&a, &b, &c));
}

} // namespace
} // namespace fwtest
