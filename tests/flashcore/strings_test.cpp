// Strings and USB identifiers: in an image in memory, in the camera's flash, copied and compared between the
// two, and as the camera reported them to the host; the burn's string stamp; the identity test of the
// filter-driver open; and what a string patch cut off at any transfer leaves behind.
#include "fixture.h"

#include "camsim/image_builder.h"
#include "flashcore/bytes.h"
#include "flashcore/connection/state.h"
#include "flashcore/flash/crc16.h"
#include "flashcore/flash/strings.h"
#include "fwconfig.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace fwtest {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Where the image builder puts the long layout's parameter table and CRC block.
constexpr std::size_t kTable = 0x5000;
constexpr std::size_t kTableEnd = 0x5600;
constexpr std::size_t kCrcBlock = 0x5D00;
constexpr std::size_t kCrcWord = kCrcBlock + 20;
constexpr std::size_t kPlainSlot = kCrcBlock + 192;

Bytes sampleImage(camsim::ImageDescription d = {}) {
    if (!d.plainManufacturer) d.plainManufacturer = "PLAIN";
    return camsim::buildImage(d);
}

fw_ulong size(const Bytes& b) {
    return static_cast<fw_ulong>(b.size());
}

Bytes slotAt(const Bytes& image, std::size_t address) {
    return Bytes(image.begin() + static_cast<std::ptrdiff_t>(address),
                 image.begin() + static_cast<std::ptrdiff_t>(address + 64));
}

std::uint16_t storedCrc(const Bytes& image) {
    return flashcore::readBe16(image.data() + kCrcWord);
}
std::uint16_t tableCrc(const Bytes& image) {
    return flashcore::crc16Modbus(image.data() + kTable, kTableEnd - kTable);
}

// The addresses where two images differ, as [first, last] ranges.
std::vector<std::pair<std::size_t, std::size_t>> differences(const Bytes& a, const Bytes& b) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        if (!out.empty() && out.back().second + 1 == i)
            out.back().second = i;
        else
            out.push_back({i, i});
    }
    return out;
}

// A camera holding `firmware` whose flash is protected as after a burn (status 0x8C, WP# on GPIO 1).
camsim::CameraConfig cameraWith(Bytes firmware, int family = 13, char map = 'B') {
    camsim::CameraConfig c = CameraTest::config(family, map);
    c.wpPin = 1;
    c.flash.status = 0x8C;
    c.firmware = std::move(firmware);
    return c;
}

// Reads a string with one of the getters into a buffer prefilled with '#' (which no text here holds): the
// characters written, or "(false)" when the getter failed without writing.
template <typename Getter> std::string got(Getter getter, fw_ulong capacity = 64) {
    char text[64];
    std::memset(text, '#', sizeof text);
    const bool ok = getter(text, capacity);
    const std::string written(text, static_cast<std::size_t>(std::find(text, text + 64, '#') - text));
    if (!ok) return written.empty() ? "(false)" : "(false, buffer written)";
    return written;
}

std::string imageText(const Bytes& image, bool (*getter)(const unsigned char*, fw_ulong, char*, fw_ulong),
                      fw_ulong capacity = 64) {
    return got([&](char* t, fw_ulong c) { return getter(image.data(), size(image), t, c); }, capacity);
}

using ImageStrings = CameraTest;

TEST_F(ImageStrings, DescriptorSlotRefreshesTheTableCrc) {
    camsim::Camera& camera = attach(cameraWith({}));
    ASSERT_EQ(open(camera), 2);
    Bytes image = sampleImage();
    const Bytes before = image;
    ASSERT_TRUE(QUELT_SetManufacturerBinFile("ABCD", 4, image.data(), size(image)));
    Bytes want = {0x0A, 0x03, 'A', 0, 'B', 0, 'C', 0, 'D', 0};
    want.resize(64, 0xFF); // 54 bytes of 0xFF
    EXPECT_EQ(slotAt(image, kTable + 128), want);
    EXPECT_EQ(storedCrc(image), tableCrc(image));
    EXPECT_NE(storedCrc(image), storedCrc(before));
    // Only the slot and the CRC word changed.
    const auto changed = differences(before, image);
    ASSERT_FALSE(changed.empty());
    for (const auto& [first, last] : changed)
        EXPECT_TRUE((first >= kTable + 128 && last < kTable + 192) ||
                    (first >= kCrcWord && last <= kCrcWord + 1))
            << std::hex << first;

    EXPECT_EQ(imageText(image, QUELT_GetManufacturerBinFile), "ABCD") << "no terminating zero";
    EXPECT_EQ(imageText(image, QUELT_GetManufacturerBinFile, 3), "(false)");
    // The other slots read as built.
    EXPECT_EQ(imageText(image, QUELT_GetProductBinFile), "USB Camera");
    EXPECT_EQ(imageText(image, QUELT_GetSerialNumberBinFile), "SN000001");
    EXPECT_EQ(imageText(image, QUELT_GetInterfaceBinFile), "Video Control");
}

TEST_F(ImageStrings, PlainSlotLeavesEveryCrcAlone) {
    camsim::Camera& camera = attach(cameraWith({}));
    ASSERT_EQ(open(camera), 2);
    Bytes image = sampleImage();
    const Bytes before = image;
    ASSERT_TRUE(QUELT_SetManufacturerNoCRCProtectBinFile("ABCD", 4, image.data(), size(image)));
    Bytes want = {'A', 'B', 'C', 'D'};
    want.resize(64, 0xFF);
    EXPECT_EQ(slotAt(image, kPlainSlot), want);
    for (const auto& [first, last] : differences(before, image)) {
        EXPECT_GE(first, kPlainSlot);
        EXPECT_LT(last, kPlainSlot + 64);
    }
    EXPECT_EQ(imageText(image, QUELT_GetManufacturerNoCRCProtectBinFile), "ABCD");
}

TEST_F(ImageStrings, ThirtyOneCharactersAtMostAndNothingChangedOnRefusal) {
    camsim::Camera& camera = attach(cameraWith({}));
    ASSERT_EQ(open(camera), 2);
    const std::string longest(31, 'S');
    const std::string tooLong(32, 'S');
    Bytes image = sampleImage();
    ASSERT_TRUE(QUELT_SetSerialNumberBinFile(longest.c_str(), 31, image.data(), size(image)));
    const Bytes slot = slotAt(image, kTable + 192);
    EXPECT_EQ(slot[0], 0x40);
    EXPECT_EQ(std::count(slot.begin(), slot.end(), 0xFF), 0);
    EXPECT_EQ(imageText(image, QUELT_GetSerialNumberBinFile), longest);

    using Setter = bool (*)(const char*, fw_ulong, unsigned char*, fw_ulong);
    for (Setter set : {QUELT_SetProductBinFile, QUELT_SetManufacturerBinFile, QUELT_SetSerialNumberBinFile,
                       QUELT_SetInterfaceBinFile, QUELT_SetManufacturerNoCRCProtectBinFile}) {
        const Bytes before = image;
        EXPECT_FALSE(set(tooLong.c_str(), 32, image.data(), size(image)));
        EXPECT_FALSE(set(nullptr, 3, image.data(), size(image)));
        EXPECT_FALSE(set("ABC", 3, nullptr, size(image)));
        EXPECT_EQ(image, before);
    }
    // The burn's stamp refuses 32 characters for each kind before the camera is touched.
    camera.counters() = {};
    for (unsigned short kind : {0, 1, 2}) {
        Bytes copy = image;
        EXPECT_FALSE(
            BurnBinFileAndStringToDevice(copy.data(), size(copy), tooLong.c_str(), 32, kind, nullptr));
        EXPECT_EQ(copy, image);
    }
    EXPECT_EQ(camera.counters().registerWrites, 0u);
}

TEST_F(ImageStrings, DescriptorSlotsDecodeFromTheirLengthByteAlone) {
    camsim::Camera& camera = attach(cameraWith({}));
    ASSERT_EQ(open(camera), 2);
    const std::string longestText = "abcdefghijklmnopqrstuvwxyz01234";
    Bytes longest = {64, 0x03};
    for (char ch : longestText)
        longest.insert(longest.end(), {static_cast<std::uint8_t>(ch), 0x00});
    struct Case {
        const char* name;
        Bytes slot; // the slot's first bytes; the rest stays as an erased slot reads
        std::string text;
    };
    const Case cases[] = {
        {"empty descriptor", {0x02, 0x03}, ""},
        {"length byte 1", {0x01, 0x03}, ""},
        {"odd length byte", {0x07, 0x03, 'A', 0, 'B', 0, 'C', 0}, "AB"},
        {"type byte ignored", {0x06, 0x04, 'H', 0, 'i', 0}, "Hi"},
        {"high bytes ignored", {0x06, 0x03, 'H', 0x30, 'i', 0x30}, "Hi"},
        {"31 characters", longest, longestText},
        {"length byte 0", {0x00, 0x03}, "(false)"},
        {"length byte 65", {65, 0x03, 'x', 0}, "(false)"},
        {"erased slot", {0xFF, 0xFF}, "(false)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = sampleImage();
        std::fill_n(image.begin() + kTable + 64, 64, 0xFF);
        std::copy(c.slot.begin(), c.slot.end(), image.begin() + kTable + 64);
        EXPECT_EQ(imageText(image, QUELT_GetProductBinFile), c.text);
    }
}

TEST_F(ImageStrings, PlainSlotWithoutEndMarkReadsThirtyTwoCharacters) {
    camsim::Camera& camera = attach(cameraWith({}));
    ASSERT_EQ(open(camera), 2);
    camsim::ImageDescription d;
    d.plainManufacturer = std::string(32, 'P');
    Bytes image = sampleImage(d);
    image[kPlainSlot + 32] = 'Q'; // only the first 32 bytes count
    EXPECT_EQ(imageText(image, QUELT_GetManufacturerNoCRCProtectBinFile), std::string(32, 'P'));
    EXPECT_EQ(imageText(image, QUELT_GetManufacturerNoCRCProtectBinFile, 31), "(false)");
}

TEST_F(ImageStrings, UsbIdentifiersHighByteFirst) {
    camsim::Camera& camera = attach(cameraWith({}));
    ASSERT_EQ(open(camera), 2);
    using Setter = bool (*)(unsigned short, unsigned char*, fw_ulong);
    using Getter = bool (*)(const unsigned char*, fw_ulong, unsigned short*);
    struct Case {
        Setter set;
        Getter get;
        std::size_t offset;
    };
    const Case cases[] = {{QUELT_SetVIDBinFile, QUELT_GetVIDBinFile, 6},
                          {QUELT_SetPIDBinFile, QUELT_GetPIDBinFile, 8},
                          {QUELT_SetBCDBinFile, QUELT_GetBCDBinFile, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        Bytes image = sampleImage();
        const Bytes before = image;
        ASSERT_TRUE(c.set(0x1234, image.data(), size(image)));
        EXPECT_EQ(image[kTable + c.offset], 0x12);
        EXPECT_EQ(image[kTable + c.offset + 1], 0x34);
        EXPECT_EQ(storedCrc(image), tableCrc(image));
        EXPECT_EQ(differences(before, image).size(), 2u) << "the value and the CRC word";
        unsigned short value = 0;
        ASSERT_TRUE(c.get(image.data(), size(image), &value));
        EXPECT_EQ(value, 0x1234);
        EXPECT_FALSE(c.get(image.data(), size(image), nullptr));
        EXPECT_FALSE(c.set(0x1234, nullptr, size(image)));
        EXPECT_FALSE(c.set(0x1234, image.data(), 0));
    }
}

TEST_F(ImageStrings, NothingOutsideTheCallersImage) {
    camsim::Camera& camera = attach(cameraWith({}));
    ASSERT_EQ(open(camera), 2);
    const Bytes built = sampleImage();
    struct Case {
        const char* name;
        std::size_t length; // what the caller says the image holds
        bool serialReadable, serialWritable, plainWritable;
    };
    const Case cases[] = {
        {"table start only", kTable + 100, false, false, false},
        {"serial slot but not the table end", kTable + 0x200, true, false, false},
        {"table but not the CRC word", kTableEnd + 0x100, true, false, false},
        {"CRC word but not the plain slot", kCrcBlock + 100, true, true, false},
        {"whole image", built.size(), true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = built;
        const auto length = static_cast<fw_ulong>(c.length);
        char text[64];
        EXPECT_EQ(QUELT_GetSerialNumberBinFile(image.data(), length, text, 64), c.serialReadable);
        EXPECT_EQ(QUELT_SetSerialNumberBinFile("NEW", 3, image.data(), length), c.serialWritable);
        EXPECT_EQ(QUELT_SetVIDBinFile(0x1234, image.data(), length), c.serialWritable);
        EXPECT_EQ(QUELT_SetManufacturerNoCRCProtectBinFile("NEW", 3, image.data(), length), c.plainWritable);
        EXPECT_TRUE(std::equal(image.begin() + static_cast<std::ptrdiff_t>(c.length), image.end(),
                               built.begin() + static_cast<std::ptrdiff_t>(c.length)));
        if (!c.serialWritable && !c.plainWritable) {
            EXPECT_EQ(image, built);
        }
    }
}

TEST_F(ImageStrings, LayoutsWithoutCrcBlockOrPlainSlot) {
    // The default layout (a T430M whose signature byte 6 is not 'F') has no CRC block: a descriptor slot is
    // written without a CRC, and there is no plain slot.
    {
        camsim::Camera& camera = attach(config(7, 'A'));
        camera.pokeRom(0xAFF8 + 6, 'E');
        ASSERT_EQ(open(camera), 2);
        Bytes image(0x10000, 0xFF);
        const Bytes before = image;
        ASSERT_TRUE(QUELT_SetSerialNumberBinFile("AB", 2, image.data(), size(image)));
        const auto changed = differences(before, image);
        ASSERT_EQ(changed.size(), 1u);
        EXPECT_EQ(changed[0].first, 0x8000u + 192);
        EXPECT_FALSE(QUELT_SetManufacturerNoCRCProtectBinFile("AB", 2, image.data(), size(image)));
        EXPECT_EQ(imageText(image, QUELT_GetManufacturerNoCRCProtectBinFile), "(false)");
        UnInitialize_DriverInterface();
    }
    // T410M controllers (variants 1 and 2) keep no plain slot; their descriptor slots work.
    for (int family : {0, 1}) {
        SCOPED_TRACE(family);
        SetUp();
        camsim::ImageDescription d;
        d.chip = "T410M";
        d.variant = static_cast<std::uint8_t>(family + 1);
        d.plainManufacturer = "PLAIN";
        Bytes image = camsim::buildImage(d);
        camsim::Camera& camera = attach(cameraWith(image, family, 'A'));
        ASSERT_EQ(open(camera), 2);
        EXPECT_EQ(imageText(image, QUELT_GetManufacturerNoCRCProtectBinFile), "(false)");
        EXPECT_FALSE(QUELT_SetManufacturerNoCRCProtectBinFile("AB", 2, image.data(), size(image)));
        EXPECT_EQ(got(QUELT_GetManufacturerNoCRCProtect), "(false)");
        fw_ulong latched = 0;
        EXPECT_FALSE(QUELT_SetManufacturerNoCRCProtect("AB", 2, &latched));
        EXPECT_EQ(IsSerialNumberSameWithDevice(image.data(), size(image), 2), -1);
        EXPECT_EQ(imageText(image, QUELT_GetManufacturerBinFile), "Camera Maker");
        EXPECT_EQ(camera.flash().statusRegister(), 0x8C) << "never unprotected";
        EXPECT_TRUE(QUELT_SetSerialNumber("AB", 2, &latched));
        EXPECT_EQ(got(QUELT_GetSerialNumber), "AB");
        UnInitialize_DriverInterface();
    }
}

using DeviceStrings = CameraTest;

TEST_F(DeviceStrings, ReadFromTheFlash) {
    camsim::ImageDescription d;
    d.vendorId = 0x1234;
    d.productId = 0xABCD;
    d.bcdDevice = 0x0210;
    camsim::Camera& camera = attach(cameraWith(sampleImage(d)));
    ASSERT_EQ(open(camera), 2);
    EXPECT_EQ(got(QUELT_GetProduct), "USB Camera");
    EXPECT_EQ(got(QUELT_GetManufacturer), "Camera Maker");
    EXPECT_EQ(got(QUELT_GetSerialNumber), "SN000001");
    EXPECT_EQ(got(QUELT_GetInterface), "Video Control");
    EXPECT_EQ(got(QUELT_GetManufacturerNoCRCProtect), "PLAIN");
    EXPECT_EQ(got(QUELT_GetSerialNumber, 7), "(false)");
    const char* byKind[] = {"Camera Maker", "SN000001", "PLAIN", "(false)"};
    for (unsigned short kind = 0; kind < 4; ++kind)
        EXPECT_EQ(got([&](char* t, fw_ulong c) { return ReadSerialNumberFromDevice(t, c, kind); }),
                  byKind[kind]);
    unsigned short vid = 0, pid = 0, bcd = 0;
    ASSERT_TRUE(QUELT_GetVID(&vid) && QUELT_GetPID(&pid) && QUELT_GetBCD(&bcd));
    EXPECT_EQ(vid, 0x1234);
    EXPECT_EQ(pid, 0xABCD);
    EXPECT_EQ(bcd, 0x0210);
}

TEST_F(DeviceStrings, CameraWithoutFirmware) {
    camsim::Camera& camera = attach(cameraWith({}));
    ASSERT_EQ(open(camera), 2);
    Bytes image = sampleImage();
    const Bytes before = image;
    EXPECT_EQ(got(QUELT_GetSerialNumber), "(false)");
    EXPECT_EQ(got(QUELT_GetManufacturerNoCRCProtect), "(false)");
    for (unsigned short kind : {0, 1, 2, 3})
        EXPECT_EQ(IsSerialNumberSameWithDevice(image.data(), size(image), kind), -1) << kind;
    EXPECT_TRUE(QUELT_ReserveSerialNumber(image.data(), size(image)));
    EXPECT_TRUE(QUELT_ReserveManufacturer(image.data(), size(image)));
    EXPECT_EQ(image, before);
    fw_ulong latched = 0;
    EXPECT_FALSE(WriteSerialNumberToDevice("SN1", 3, 1, &latched));
    EXPECT_EQ(camera.flash().statusRegister(), 0x8C) << "never unprotected";
    EXPECT_EQ(camera.counters().memoryBytesWritten, 0u);
}

TEST_F(DeviceStrings, PatchRewritesTheSectorsOfTheTable) {
    const Bytes image = sampleImage();
    struct Case {
        unsigned short kind;
        bool (*setInImage)(const char*, fw_ulong, unsigned char*, fw_ulong);
    };
    const Case cases[] = {{0, QUELT_SetManufacturerBinFile},
                          {1, QUELT_SetSerialNumberBinFile},
                          {2, QUELT_SetManufacturerNoCRCProtectBinFile}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        SetUp();
        camsim::Camera& camera = attach(cameraWith(image));
        ASSERT_EQ(open(camera), 2);
        const std::uint64_t erasesBefore = camera.flash().erasesExecuted();
        fw_ulong latched = 0;
        ASSERT_TRUE(WriteSerialNumberToDevice("NEW-0042", 8, c.kind, &latched));
        EXPECT_EQ(latched, 0u);
        // The flash holds what the image setter makes of the image: slot, and CRC for descriptor slots.
        Bytes want = image;
        ASSERT_TRUE(c.setInImage("NEW-0042", 8, want.data(), size(want)));
        EXPECT_TRUE(std::equal(want.begin(), want.end(), camera.flash().contents().begin()));
        EXPECT_EQ(camera.flash().erasesExecuted() - erasesBefore, 1u) << "table and CRC block share a sector";
        EXPECT_EQ(camera.flash().statusRegister(), 0x8C) << "protected again";
        EXPECT_EQ(got([&](char* t, fw_ulong n) { return ReadSerialNumberFromDevice(t, n, c.kind); }),
                  "NEW-0042");
        EXPECT_EQ(IsSerialNumberSameWithDevice(want.data(), size(want), c.kind), 1);
        Bytes old = image;
        EXPECT_EQ(IsSerialNumberSameWithDevice(old.data(), size(old), c.kind), 0);
        UnInitialize_DriverInterface();
    }
}

TEST_F(DeviceStrings, PatchSpanningSeveralSectors) {
    // A short-layout table at 0x9000 with its CRC block at 0xA000: two sectors are rewritten.
    camsim::ImageDescription d;
    d.chip = "T420M";
    const Bytes image = camsim::buildImage(d);
    camsim::Camera& camera = attach(cameraWith(image, 2, 'A'));
    ASSERT_EQ(open(camera), 2);
    const std::uint64_t erasesBefore = camera.flash().erasesExecuted();
    ASSERT_TRUE(QUELT_SetSerialNumber("SPAN", 4, nullptr));
    EXPECT_EQ(camera.flash().erasesExecuted() - erasesBefore, 2u);
    Bytes want = image;
    ASSERT_TRUE(QUELT_SetSerialNumberBinFile("SPAN", 4, want.data(), size(want)));
    EXPECT_TRUE(std::equal(want.begin(), want.end(), camera.flash().contents().begin()));
}

TEST_F(DeviceStrings, PatchRefusedBeforeTheFlashIsUnprotected) {
    const Bytes image = sampleImage();
    Bytes crcBeforeTable = image; // CRC block in a sector below the table's
    flashcore::writeBe32(crcBeforeTable.data() + 0x187, 0x4000);
    Bytes sectorTooHigh = image; // the last sector cannot be named to the sector erase
    flashcore::writeBe32(sectorTooHigh.data() + 0x187, 0x100000);
    Bytes tableAtFlashEnd = image; // the CRC word lies beyond the run read
    flashcore::writeBe32(tableAtFlashEnd.data() + 0x173, 0x2000);
    Bytes crcMismatch = image; // a table that no longer matches its CRC: damaged, or read wrongly
    crcMismatch[kTable + 300] ^= 0x01;
    const std::string tooLong(32, 'x');
    struct Case {
        const char* name;
        const Bytes* flash;
        const char* text;
        fw_ulong length;
        unsigned short kind;
    };
    const Case cases[] = {
        {"32 characters", &image, tooLong.c_str(), 32, 1},
        {"null text", &image, nullptr, 3, 1},
        {"unknown kind", &image, "ABC", 3, 3},
        {"CRC block before the table", &crcBeforeTable, "ABC", 3, 1},
        {"CRC block before the table, plain slot", &crcBeforeTable, "ABC", 3, 2},
        {"sector above 255", &sectorTooHigh, "ABC", 3, 1},
        {"table end beyond the sectors", &tableAtFlashEnd, "ABC", 3, 0},
        {"table not matching its CRC", &crcMismatch, "ABC", 3, 1},
        {"table not matching its CRC, plain slot", &crcMismatch, "ABC", 3, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        camsim::Camera& camera = attach(cameraWith(*c.flash));
        ASSERT_EQ(open(camera), 2);
        fw_ulong latched = 0;
        EXPECT_FALSE(WriteSerialNumberToDevice(c.text, c.length, c.kind, &latched));
        EXPECT_EQ(camera.flash().statusRegister(), 0x8C) << "never unprotected";
        EXPECT_EQ(camera.peekRegister(0x05F8), 0x34);
        EXPECT_TRUE(std::equal(c.flash->begin(), c.flash->end(), camera.flash().contents().begin()));
        UnInitialize_DriverInterface();
    }
}

TEST_F(DeviceStrings, LatchedProtectionIsReportedAndTheFlashUntouched) {
    camsim::CameraConfig c = cameraWith(sampleImage());
    c.registers[0x03EA] = 0x02;
    c.registers[0x0DDB] = 0x01;
    camsim::Camera& camera = attach(c);
    const Bytes before = camera.flash().contents();
    ASSERT_EQ(open(camera), 2);
    fw_ulong latched = 0;
    EXPECT_FALSE(QUELT_SetSerialNumber("SN1", 3, &latched));
    EXPECT_EQ(latched, 1u);
    EXPECT_EQ(camera.flash().contents(), before);
}

TEST_F(DeviceStrings, ReserveCopiesTheCamerasSlotIntoANewImage) {
    const Bytes old = sampleImage();
    camsim::Camera& camera = attach(cameraWith(old));
    ASSERT_EQ(open(camera), 2);
    camsim::ImageDescription d;
    d.serialNumber = "FROM-THE-NEW-IMAGE";
    d.manufacturer = "New Maker";
    Bytes image = sampleImage(d);
    ASSERT_EQ(IsSerialNumberSameWithDevice(image.data(), size(image), 1), 0);
    ASSERT_TRUE(QUELT_ReserveSerialNumber(image.data(), size(image)));
    EXPECT_EQ(IsSerialNumberSameWithDevice(image.data(), size(image), 1), 1);
    EXPECT_EQ(IsSerialNumberSameWithDevice(image.data(), size(image), 0), 0);
    ASSERT_TRUE(QUELT_ReserveManufacturer(image.data(), size(image)));
    EXPECT_EQ(image, old) << "both slots copied and the CRC refreshed";
    // An image too short for the slot is refused and left alone.
    Bytes shortImage(old.begin(), old.begin() + kTable + 100);
    const Bytes shortBefore = shortImage;
    EXPECT_FALSE(QUELT_ReserveSerialNumber(shortImage.data(), size(shortImage)));
    EXPECT_EQ(shortImage, shortBefore);
}

using ReportedDescriptors = CameraTest;

TEST_F(ReportedDescriptors, AnsweredFromTheRecordKeyedByStringIndex) {
    camsim::ImageDescription d;
    d.vendorId = 0x1234;
    d.productId = 0x5678;
    d.bcdDevice = 0x0102;
    struct Case {
        std::array<std::uint8_t, 3> indices; // iManufacturer, iProduct, iSerialNumber
        const char* manufacturer;
        const char* product;
        const char* serial;
    };
    const Case cases[] = {
        {{1, 2, 3}, "Camera Maker", "USB Camera", "SN000001"},
        {{2, 1, 0}, "Camera Maker", "USB Camera", "(false)"},
        {{4, 5, 1}, "(false)", "(false)", "SN000001"},
        // One index named three times: the camera answers it with its manufacturer string, and all three
        // queries read that one text.
        {{3, 3, 3}, "Camera Maker", "Camera Maker", "Camera Maker"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int{c.indices[0]} << int{c.indices[1]} << int{c.indices[2]});
        SetUp();
        camsim::CameraConfig cfg = cameraWith(sampleImage(d));
        cfg.stringIndices = c.indices;
        attach(cfg);
        ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
        EXPECT_EQ(got(QUELT_GetManufacturerDevDesc), c.manufacturer);
        EXPECT_EQ(got(QUELT_GetProductDevDesc), c.product);
        EXPECT_EQ(got(QUELT_GetSerialNumberDevDesc), c.serial);
        UnInitialize_DriverInterface();
    }

    SetUp();
    attach(cameraWith(sampleImage(d)));
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(got(QUELT_GetSerialNumberDevDesc, 8), "SN000001");
    EXPECT_EQ(got(QUELT_GetSerialNumberDevDesc, 7), "(false)");
    EXPECT_FALSE(QUELT_GetSerialNumberDevDesc(nullptr, 64));
    unsigned short vid = 0, pid = 0, bcd = 0;
    ASSERT_TRUE(QUELT_GetVIDDevDesc(&vid) && QUELT_GetPIDDevDesc(&pid) && QUELT_GetBCDDevDesc(&bcd));
    EXPECT_EQ(vid, 0x1234);
    EXPECT_EQ(pid, 0x5678);
    EXPECT_EQ(bcd, 0x0102);
    EXPECT_FALSE(QUELT_GetVIDDevDesc(nullptr));
    // Cleared at close.
    UnInitialize_DriverInterface();
    EXPECT_EQ(got(QUELT_GetProductDevDesc), "(false)");
    EXPECT_FALSE(QUELT_GetVIDDevDesc(&vid));
}

TEST_F(ReportedDescriptors, BurnWithStringThenResetShowsTheNewIdentity) {
    const char* texts[] = {"New Maker", "SN-LINE-0007", "PLAIN-NEW"};
    for (unsigned short kind : {0, 1, 2}) {
        SCOPED_TRACE(kind);
        SetUp();
        camsim::Camera& camera = attach(cameraWith(sampleImage()));
        ASSERT_EQ(open(camera), 2);
        Bytes image = sampleImage();
        const std::string text = texts[kind];
        ASSERT_TRUE(BurnBinFileAndStringToDevice(image.data(), size(image), text.c_str(),
                                                 static_cast<fw_ulong>(text.size()), kind, nullptr));
        EXPECT_EQ(got([&](char* t, fw_ulong n) { return ReadSerialNumberFromDevice(t, n, kind); }), text);
        EXPECT_EQ(IsSerialNumberSameWithDevice(image.data(), size(image), kind), 1) << "stamped in place";
        // The host sees the new strings once the camera has restarted and is opened again.
        EXPECT_EQ(ResetDevice(), 2);
        ASSERT_TRUE(UnInitialize_DriverInterface());
        ASSERT_EQ(open(camera), 2);
        EXPECT_EQ(got(QUELT_GetManufacturerDevDesc), kind == 0 ? text : "Camera Maker");
        EXPECT_EQ(got(QUELT_GetSerialNumberDevDesc), kind == 1 ? text : "SN000001");
        UnInitialize_DriverInterface();
    }
}

using BurnTarget = CameraTest;

TEST_F(BurnTarget, MakersBlankIdsOrTheFilterImage) {
    camsim::Camera& camera = attach(cameraWith(sampleImage()));
    ASSERT_EQ(open(camera), 2);
    camsim::ImageDescription d;
    d.vendorId = FWT_MAKER_VENDOR_ID;
    d.productId = 0x6361; // the product id just below the ten a blank camera reports
    Bytes names6361 = sampleImage(d);
    d.vendorId = 0x1234;
    d.productId = 0x5678;
    Bytes names1234 = sampleImage(d);
    constexpr std::uint32_t kMaker = std::uint32_t{FWT_MAKER_VENDOR_ID} << 16;
    struct Case {
        std::uint32_t id;
        const Bytes* filterImage;
        bool accepted;
    };
    const Case cases[] = {
        {kMaker | 0x6362, nullptr, true},     {kMaker | 0x6365, &names1234, true},
        {kMaker | 0x636B, nullptr, true},     {kMaker | 0x636C, nullptr, false},
        {kMaker | 0x6361, &names1234, false}, {kMaker | 0x6361, &names6361, true},
        {0x12345678, &names1234, true},       {0x12345679, &names1234, false},
        {0x12345678, nullptr, false},         {0x6362, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.id);
        Bytes copy = c.filterImage ? *c.filterImage : Bytes();
        IsNeedFilterId(true, copy.empty() ? nullptr : copy.data(), size(copy));
        EXPECT_EQ(flashcore::matchesBurnTarget(c.id, 5), c.accepted);
        EXPECT_EQ(flashcore::slotOpen(5), c.accepted) << "the slot is marked opened only when accepted";
        flashcore::slotState(5).opened = false;
    }
    EXPECT_FALSE(flashcore::matchesBurnTarget(kMaker | 0x6362, 24));
}

// Cuts a serial-number patch off at transfer after transfer, in both extension-unit modes. A cut before the
// first sector erase leaves the flash as it was; after it, only the rewritten sector can differ and the
// presence marker stays; a patch that reports success has written exactly the new slot. The suite samples
// the later cut points; tools/fwsweep tries every one.
TEST_F(DeviceStrings, PatchCutAtAnyTransfer) {
    const Bytes image = sampleImage();
    for (bool blockMode : {true, false}) {
        SCOPED_TRACE(blockMode ? "XU6 block mode" : "8-byte mode");
        SetUp();
        camsim::Camera& camera = attach(cameraWith(image));
        camera.setLogging(false);
        EnableModeXU6(blockMode);
        ASSERT_EQ(open(camera), blockMode ? 3 : 2);
        Bytes patched = image;
        ASSERT_TRUE(QUELT_SetSerialNumberBinFile("CUT-0001", 8, patched.data(), size(patched)));
        const std::uint64_t start = camera.counters().transfers;
        ASSERT_TRUE(WriteSerialNumberToDevice("CUT-0001", 8, 1, nullptr));
        const std::uint64_t transfers = camera.counters().transfers - start;

        int beforeErase = 0, afterErase = 0;
        for (std::uint64_t cut = 1; cut <= transfers; cut += cut < 400 ? 1 : 13) {
            SCOPED_TRACE(cut);
            std::copy(image.begin(), image.end(), camera.flash().contents().begin());
            camera.flash().setStatusRegister(0x8C);
            const std::uint64_t erases = camera.flash().erasesExecuted();
            camera.faults().failTransfer = camera.counters().transfers + cut;
            const bool ok = WriteSerialNumberToDevice("CUT-0001", 8, 1, nullptr);
            camera.faults().failTransfer = 0;
            const Bytes flash(camera.flash().contents().begin(), camera.flash().contents().begin() + 0x20000);
            if (ok) {
                ASSERT_TRUE(flash == patched) << "a success wrote exactly the new slot";
            } else if (camera.flash().erasesExecuted() == erases) {
                ++beforeErase;
                ASSERT_TRUE(flash == image) << "untouched";
            } else {
                ++afterErase;
                for (const auto& [first, last] : differences(image, flash)) {
                    ASSERT_GE(first, 0x5000u);
                    ASSERT_LT(last, 0x6000u);
                }
                ASSERT_FALSE(QUELT_IsFWEmpty());
            }
        }
        EXPECT_GT(beforeErase, 50);
        EXPECT_GT(afterErase, 50);
        UnInitialize_DriverInterface();
    }
}

} // namespace
} // namespace fwtest
