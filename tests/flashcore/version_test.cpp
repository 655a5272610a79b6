// The ROM signature with the chip-id and strap refinements of the T425M and T445M controllers, and the
// firmware version text of both layout kinds.
#include "fixture.h"

#include "camsim/image_builder.h"
#include "flashcore/connection/state.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace fwtest {
namespace {

using RomVersion = CameraTest;
using CodeVersion = CameraTest;

std::string modelCode(const char* signature) {
    return std::string(signature, 5);
}

TEST_F(RomVersion, ChipIdAndStrapsRefineT425MAndT445M) {
    struct Case {
        const char* what;
        int family;
        std::uint8_t chipId;
        std::uint8_t straps;
        const char* model;
        int finalFamily;
        std::uint8_t gpioOut;    // entry 1 afterwards; it was 0x00
        std::uint8_t gpioEnable; // entry 2 afterwards; it was 0xFF
    };
    const Case cases[] = {
        {"T425M as T420M, pin 3 high", 3, 0x70, 0xFF, "T4201", 2, 0x00, 0xF7},
        {"T425M as T420M, pin 4 high", 3, 0x70, 0xF7, "T4200", 2, 0x18, 0xE7},
        {"T425M as T420M, both low", 3, 0x70, 0xE7, "T4202", 2, 0x08, 0xE7},
        {"T425M, pin 3 high", 3, 0x72, 0xFF, "T4251", 3, 0x00, 0xF7},
        {"T425M, pin 4 high", 3, 0x72, 0xF7, "T4250", 3, 0x18, 0xE7},
        {"T425M, both low", 3, 0x72, 0xE7, "T425M", 3, 0x18, 0xE7},
        {"T445M as T440M, pin 3 high", 5, 0x80, 0xFF, "T4401", 4, 0x00, 0xF7},
        {"T445M as T440M, pin 3 low", 5, 0x80, 0xF7, "T4400", 4, 0x08, 0xF7},
        {"T445M, pin 3 high", 5, 0x83, 0xFF, "T4451", 5, 0x00, 0xF7},
        {"T445M, pin 3 low", 5, 0x83, 0xE7, "T4450", 5, 0x08, 0xF7},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SetUp();
        camsim::CameraConfig c = config(k.family, 'A');
        c.chipId = k.chipId;
        c.straps = k.straps;
        // The chip id is hidden until the refinement clears bit 4 of 0x100A; it must be restored afterwards.
        c.registers[0x100A] = 0x13;
        camsim::Camera& camera = attach(c);
        ASSERT_GT(open(camera), 0);
        camera.pokeRegister(0x1006, 0x00);
        camera.pokeRegister(0x1007, 0xFF);
        // Later calls find the same final row.
        for (int call = 0; call < 2; ++call) {
            char signature[8] = {};
            ASSERT_TRUE(GetRomVersion(signature));
            EXPECT_EQ(modelCode(signature), k.model);
            EXPECT_EQ(signature[5], 1) << "the variant byte is kept";
            EXPECT_EQ(flashcore::slotState(0).chipFamily, k.finalFamily);
        }
        EXPECT_EQ(camera.peekRegister(0x100A), 0x13);
        EXPECT_EQ(camera.peekRegister(0x1006), k.gpioOut);
        EXPECT_EQ(camera.peekRegister(0x1007), k.gpioEnable);
    }
}

TEST_F(RomVersion, OtherFamiliesReportTheRomSignatureWithoutRegisterAccess) {
    camsim::Camera& camera = attach(config(2, 'A'));
    ASSERT_GT(open(camera), 0);
    char signature[8] = {};
    ASSERT_TRUE(GetRomVersion(0, signature));
    EXPECT_TRUE(std::equal(signature, signature + 8, camera.romSignature().begin()));
    EXPECT_TRUE(calls(camera, 1).empty());
    EXPECT_FALSE(GetRomVersion(0, nullptr));
    EXPECT_FALSE(GetRomVersion(1, signature));
}

// A 24-byte output buffer with a guard pattern, to see what was written.
struct TextBuffer {
    std::array<unsigned char, 24> bytes;
    TextBuffer() { bytes.fill(0xEE); }
    std::string text() const { return reinterpret_cast<const char*>(bytes.data()); }
};

camsim::ImageDescription longImage(const char* chip, const char* chipName, const char* version) {
    camsim::ImageDescription d;
    d.chip = chip;
    d.chipName = chipName;
    d.version = version;
    return d;
}

TEST_F(CodeVersion, LongLayoutGivesThePrefixedVersionOrNoFirmwareVersion) {
    struct Case {
        const char* what;
        int family;
        const char* chip;
        const char* chipName;
        const char* version;
        bool erased;
        const char* expected;
    };
    const Case cases[] = {
        {"programmed image", 13, "T465M", "QLCAM", "2.3.45", false, "QUELT_ISP_2.3.45"},
        {"twelve-character version", 6, "T470M", "QL", "ABCDEFGHIJKL", false, "QUELT_ISP_ABCDEFGHIJKL"},
        {"T415M has no prefix", 10, "T415M", "QLCAM", "7.1", false, "7.1"},
        {"chip name without QL", 13, "T465M", "XLCAM", "2.3.45", false, "No Firmware Version"},
        {"erased flash", 13, "T465M", "QLCAM", "1.0", true, "No Firmware Version"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SetUp();
        camsim::CameraConfig c = config(k.family);
        if (!k.erased) c.firmware = camsim::buildImage(longImage(k.chip, k.chipName, k.version));
        camsim::Camera& camera = attach(c);
        ASSERT_GT(open(camera), 0);
        TextBuffer out;
        ASSERT_TRUE(GetCodeVersion(out.bytes.data()));
        EXPECT_EQ(out.text(), k.expected);
        EXPECT_EQ(out.bytes[23], 0xEE) << "nothing written past the terminator of the longest text";
    }
}

TEST_F(CodeVersion, OtherLayoutsReadNameAndVersionAtThePageOfTheSectorTable) {
    struct Case {
        const char* what;
        int family;
        std::size_t nameBytes; // name bytes kept before the version bytes
    };
    for (const Case& k : {Case{"T420M", 2, 7}, Case{"T410M", 0, 0}}) {
        SCOPED_TRACE(k.what);
        SetUp();
        camsim::CameraConfig c = config(k.family, 'A');
        c.sectorTableAddress = 0x9100;
        c.registers[0x9106] = 0x40; // the image's page: base 0x4000
        camsim::Camera& camera = attach(c);
        auto& flash = camera.flash().contents();
        const std::string name = "NAME0123", version = "VERSION-TEXT-16B";
        std::copy(name.begin(), name.end(), flash.begin() + 0x4000);
        std::copy(version.begin(), version.end(), flash.begin() + 0x4148);
        ASSERT_GT(open(camera), 0);

        TextBuffer out;
        ASSERT_TRUE(GetCodeVersion(0, out.bytes.data()));
        const std::string expected = name.substr(0, k.nameBytes) + version;
        EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.begin() + static_cast<long>(expected.size())),
                  expected);
        EXPECT_TRUE(std::all_of(out.bytes.begin() + static_cast<long>(expected.size()), out.bytes.end(),
                                [](unsigned char b) { return b == 0xEE; }))
            << "the text is not terminated and nothing else is written";
    }
}

TEST_F(CodeVersion, FailedReadsClosedSlotsAndNullBuffersGiveFalse) {
    camsim::CameraConfig c = config(13);
    c.firmware = camsim::buildImage(longImage("T465M", "QLCAM", "1.0"));
    camsim::Camera& camera = attach(c);
    TextBuffer out;
    EXPECT_FALSE(GetCodeVersion(out.bytes.data()));
    ASSERT_GT(open(camera), 0);
    EXPECT_FALSE(GetCodeVersion(nullptr));
    EXPECT_FALSE(GetCodeVersion(1, out.bytes.data()));
    camera.faults().failAfterTransfer = camera.counters().transfers + 4;
    EXPECT_FALSE(GetCodeVersion(out.bytes.data()));
}

} // namespace
} // namespace fwtest
