// Burning images: end to end on both extension-unit modes, the refusals before anything changes, the
// latched protection, erasing, and what a burn cut off at any transfer leaves behind.
#include "fixture.h"

#include "camsim/image_builder.h"

#include <algorithm>

namespace fwtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Burn = CameraTest;

// A T465M-class camera whose flash is protected (status 0x8C, SRWD with WP# on GPIO 1) as after a burn.
camsim::CameraConfig protectedCamera() {
    camsim::CameraConfig c = CameraTest::config(13);
    c.wpPin = 1;
    c.flash.status = 0x8C;
    return c;
}

Bytes sampleImage(std::size_t size = 0x10000, std::uint8_t wpConfig = 0x1B) {
    camsim::ImageDescription d;
    d.size = size;
    d.wpConfig = wpConfig;
    return camsim::buildImage(d);
}

bool burn(Bytes& image, fw_ulong* protectedOut = nullptr) {
    return BurnBinFileAndStringToDevice(image.data(), static_cast<fw_ulong>(image.size()), nullptr, 0, 0,
                                        protectedOut);
}

bool flashHolds(camsim::Camera& camera, const Bytes& image) {
    const auto& flash = camera.flash().contents();
    return std::equal(image.begin(), image.end(), flash.begin());
}

TEST_F(Burn, WholeImageOnEachExtensionUnitMode) {
    for (bool blockMode : {false, true}) {
        SCOPED_TRACE(blockMode ? "XU6 block mode" : "8-byte mode");
        SetUp();
        camsim::Camera& camera = attach(protectedCamera());
        camera.flash().contents().assign(camera.flash().contents().size(), 0x00); // old contents
        EnableModeXU6(blockMode);
        ASSERT_EQ(open(camera), blockMode ? 3 : 2);
        Bytes image = sampleImage(0x20000);
        ASSERT_TRUE(burn(image));
        EXPECT_TRUE(flashHolds(camera, image));
        EXPECT_FALSE(QUELT_IsFWEmpty());
        // Protected again: status register, permission registers, pin low.
        EXPECT_EQ(camera.flash().statusRegister(), 0x8C);
        EXPECT_EQ(camera.peekRegister(0x05F8), 0x34);
        EXPECT_EQ(camera.peekRegister(0x8201) & 0x02, 0);
        EXPECT_EQ(GetProgress(), 100);
        int percent = -1;
        GetBurnPercent(&percent);
        EXPECT_EQ(percent, blockMode ? percent : 100); // block mode keeps no burn percentage of its own
        UnInitialize_DriverInterface();
    }
}

TEST_F(Burn, RefusalsBeforeTheCameraIsTouched) {
    camsim::Camera& camera = attach(protectedCamera());
    ASSERT_EQ(open(camera), 2);
    camera.counters() = {};
    Bytes image = sampleImage();
    const char text[] = "ABCDE";
    EXPECT_FALSE(BurnBinFileAndStringToDevice(nullptr, 0x10000, nullptr, 0, 0, nullptr));
    EXPECT_FALSE(BurnBinFileAndStringToDevice(image.data(), 0, nullptr, 0, 0, nullptr));
    EXPECT_FALSE(BurnBinFileAndStringToDevice(image.data(), 0x10000, text, 5, 3, nullptr));
    EXPECT_FALSE(BurnBinFileAndStringToDevice(image.data(), 0x10000, nullptr, 5, 1, nullptr));
    EXPECT_TRUE(camera.log().empty());
    // Too short for the long layout's header, or a parameter table beyond the image: nothing is changed.
    EXPECT_FALSE(BurnBinFileAndStringToDevice(image.data(), 0x180, nullptr, 0, 0, nullptr));
    EXPECT_FALSE(BurnBinFileAndStringToDevice(image.data(), 0x4000, nullptr, 0, 0, nullptr));
    EXPECT_EQ(camera.counters().registerWrites, 0u);
    EXPECT_EQ(camera.counters().memoryBytesWritten, 0u);
}

TEST_F(Burn, StringKindIgnoredWithoutText) {
    camsim::Camera& camera = attach(protectedCamera());
    ASSERT_EQ(open(camera), 2);
    Bytes image = sampleImage();
    const Bytes original = image;
    ASSERT_TRUE(BurnBinFileAndStringToDevice(image.data(), 0x10000, nullptr, 0, 7, nullptr));
    EXPECT_EQ(image, original);
    EXPECT_TRUE(flashHolds(camera, original));
}

TEST_F(Burn, LatchedProtectionLeavesTheFlashUntouched) {
    camsim::CameraConfig c = protectedCamera();
    c.registers[0x03EA] = 0x02;
    c.registers[0x0DDB] = 0x01;
    camsim::Camera& camera = attach(c);
    const Bytes before = camera.flash().contents();
    ASSERT_EQ(open(camera), 2);
    Bytes image = sampleImage();
    fw_ulong latched = 0;
    EXPECT_FALSE(burn(image, &latched));
    EXPECT_EQ(latched, 1u);
    EXPECT_EQ(camera.flash().contents(), before);
    EXPECT_EQ(camera.counters().memoryBytesWritten, 0u);
}

TEST_F(Burn, WithoutPinHandlingAProtectedFlashEndsInAFailedVerification) {
    // Pin mode 0 leaves the status register as the last protect wrote it; the flash then refuses the erase
    // and drops every page program, and the read-back tells.
    camsim::Camera& camera = attach(protectedCamera());
    camera.flash().contents().assign(camera.flash().contents().size(), 0x00);
    ASSERT_EQ(open(camera), 2);
    Bytes image = sampleImage(0x10000, 0x08);
    EXPECT_FALSE(burn(image));
    EXPECT_FALSE(flashHolds(camera, image));
    // The same burn on a flash whose status register is clear works.
    camera.flash().setStatusRegister(0x00);
    EXPECT_TRUE(burn(image));
    EXPECT_TRUE(flashHolds(camera, image));
}

TEST_F(Burn, EmptinessAndErase) {
    camsim::CameraConfig c = protectedCamera();
    c.firmware = sampleImage();
    camsim::Camera& camera = attach(c);
    ASSERT_EQ(open(camera), 2);
    EXPECT_FALSE(QUELT_IsFWEmpty());
    camera.faults().failTransfer = camera.counters().transfers + 3; // inside the 80-byte header read
    EXPECT_TRUE(QUELT_IsFWEmpty());

    ASSERT_TRUE(EraseDeviceFW());
    EXPECT_TRUE(QUELT_IsFWEmpty());
    EXPECT_TRUE(std::all_of(camera.flash().contents().begin(), camera.flash().contents().end(),
                            [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(camera.flash().statusRegister(), 0x8C);
}

TEST_F(Burn, EraseReadsTheConfigurationFromAddressZeroWhenTheTableCannotBeFound) {
    camsim::CameraConfig c = protectedCamera();
    c.flash.status = 0x00;
    camsim::Camera& camera = attach(c);
    camera.flash().contents()[0] = 0x00; // permission 0: unprotect refuses
    camera.flash().contents()[0x1000] = 0x00;
    ASSERT_EQ(open(camera), 2);
    // A ROM that no longer answers a known signature: the device locator fails.
    camera.pokeRom(0xAFF8, 'X');
    EXPECT_FALSE(EraseDeviceFW());
    EXPECT_EQ(camera.flash().contents()[0x1000], 0x00);
    camera.flash().contents()[0] = 0x08; // pin mode 0, permission 2
    EXPECT_TRUE(EraseDeviceFW());
    EXPECT_EQ(camera.flash().contents()[0x1000], 0xFF);
}

// Cuts a burn off at transfer after transfer: every failed burn leaves the flash empty (no presence marker)
// or holding the whole image, and a burn after it succeeds. The suite samples the cut points; tools/fwsweep
// tries every one.
TEST_F(Burn, CutAtAnyTransferNeverLeavesAWrongFirmware) {
    camsim::Camera& camera = attach(protectedCamera());
    camera.setLogging(false);
    EnableModeXU6(true);
    ASSERT_EQ(open(camera), 3);
    Bytes image = sampleImage();
    const std::uint64_t start = camera.counters().transfers;
    ASSERT_TRUE(burn(image));
    const std::uint64_t transfers = camera.counters().transfers - start;
    camera.flash().contents().assign(camera.flash().contents().size(), 0xFF);

    int failed = 0;
    for (std::uint64_t cut = 1; cut <= transfers; cut += cut < 400 ? 7 : 97) {
        SCOPED_TRACE(cut);
        camera.faults().failTransfer = camera.counters().transfers + cut;
        Bytes copy = image;
        if (burn(copy)) continue;
        ++failed;
        camera.faults().failTransfer = 0;
        ASSERT_TRUE(QUELT_IsFWEmpty() || flashHolds(camera, image));
    }
    EXPECT_GT(failed, 40);
    camera.faults().failTransfer = 0;
    ASSERT_TRUE(burn(image));
    EXPECT_TRUE(flashHolds(camera, image));
}

} // namespace
} // namespace fwtest
