// Write protection: the status register, the write-permission registers and the write-protect pin, in both
// directions, as the configuration byte and the chip family decide.
#include "fixture.h"

#include "flashcore/connection/state.h"

namespace fwtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<Bytes>;
using Protection = CameraTest;

Bytes permission(camsim::Camera& camera) {
    Bytes p;
    for (std::uint16_t r = 0x05F8; r <= 0x05FB; ++r)
        p.push_back(camera.peekRegister(r));
    return p;
}

const Bytes kWritable = {0x12, 0x12, 0xED, 0xED};
const Bytes kProtected = {0x34, 0x34, 0x34, 0x34};

TEST_F(Protection, PinDrivenHighWhileWritable) {
    // 0x1B: pin mode 3, permission 2, pin 1 — wired to the flash's WP# input, whose status register is
    // locked (SRWD) while the pin is low.
    camsim::CameraConfig c = config(13);
    c.wpPin = 1;
    c.flash.status = 0x8C;
    camsim::Camera& camera = attach(c);
    ASSERT_EQ(open(camera), 2);
    unsigned short gpio = 0xFFFF;
    unsigned char wp = 0x1B;
    ASSERT_TRUE(SetWriteProtect(false, &gpio, &wp, nullptr));
    EXPECT_EQ(gpio, 0x8201);
    EXPECT_EQ(camera.peekRegister(0x8202) & 0x02, 0x02);
    EXPECT_EQ(camera.peekRegister(0x8201) & 0x02, 0x02);
    EXPECT_EQ(camera.flash().statusRegister(), 0x00);
    EXPECT_EQ(permission(camera), kWritable);

    ASSERT_TRUE(SetWriteProtect(true, &gpio, &wp, nullptr));
    EXPECT_EQ(camera.flash().statusRegister(), 0x8C);
    EXPECT_EQ(camera.peekRegister(0x8201) & 0x02, 0x00);
    EXPECT_EQ(permission(camera), kProtected);
    // The pin is low now: the flash refuses a status write from anyone.
    camera.log().clear();
    ASSERT_TRUE(SetWriteProtect(true, &gpio, &wp, nullptr));
    EXPECT_EQ(camera.flash().statusRegister(), 0x8C);
}

TEST_F(Protection, NoPinHandlingLeavesTheStatusRegisterOnUnprotect) {
    camsim::CameraConfig c = config(13);
    c.flash.status = 0x8C;
    camsim::Camera& camera = attach(c);
    ASSERT_EQ(open(camera), 2);
    unsigned short gpio = 0xFFFF;
    unsigned char wp = 0x08;
    ASSERT_TRUE(SetWriteProtect(false, &gpio, &wp, nullptr));
    EXPECT_EQ(permission(camera), kWritable);
    EXPECT_TRUE(flashCommands(camera).empty());
    EXPECT_EQ(gpio, 0xFFFF);
    camera.flash().setStatusRegister(0x00);
    ASSERT_TRUE(SetWriteProtect(true, &gpio, &wp, nullptr));
    EXPECT_EQ(camera.flash().statusRegister(), 0x8C);
}

TEST_F(Protection, ConfigurationDecodingAndFamilyOverrides) {
    struct Case {
        const char* name;
        int family;
        std::uint8_t wpConfig;
        bool unprotects;
        std::uint8_t pinMask; // GPIO enable bits set by the unprotect
    };
    const Case cases[] = {
        {"family 6 ignores the byte: pin 0x04, mode 3", 6, 0x00, true, 0x04},
        {"family 8: all pins", 8, 0x00, true, 0xFF},
        {"permission other than 2", 7, 0x00, false, 0x00},
        {"pin mode 1 refuses", 7, 0x09, false, 0x00},
        {"pin mode 2 on pin 5", 7, 0x5A, true, 0x20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        camsim::Camera& camera = attach(config(c.family, 'A'));
        ASSERT_EQ(open(camera), 2);
        unsigned short gpio = 0xFFFF;
        unsigned char wp = c.wpConfig;
        EXPECT_EQ(SetWriteProtect(false, &gpio, &wp, nullptr), c.unprotects);
        EXPECT_EQ(camera.peekRegister(0x1007), c.pinMask);
        if (c.family == 6) {
            EXPECT_EQ(camera.peekRegister(0x17C1) & 1, 1);
            EXPECT_EQ(camera.peekRegister(0x17C2) & 1, 1);
        }
        if (c.wpConfig == 0x5A) {
            EXPECT_EQ(camera.peekRegister(0x1006) & 0x20, 0); // low while writable
        }
        UnInitialize_DriverInterface();
    }
}

TEST_F(Protection, OpcodesSavedByUnprotectAndRestoredByProtect) {
    // A flash of command set 4 programs with 0xAF; the controller's own opcodes come back afterwards.
    camsim::CameraConfig c = config(7, 'A');
    c.flash.manufacturer = 0xBF;
    c.flash.id1 = 0x48;
    c.flash.id2 = 0x00;
    camsim::Camera& camera = attach(c);
    ASSERT_EQ(open(camera), 2);
    camera.pokeRegister(0x05F3, 0x11);
    camera.pokeRegister(0x05F5, 0x22);
    unsigned short gpio = 0xFFFF;
    unsigned char wp = 0x08;
    ASSERT_TRUE(SetWriteProtect(false, &gpio, &wp, nullptr));
    EXPECT_EQ(camera.peekRegister(0x05F3), 0x06);
    EXPECT_EQ(camera.peekRegister(0x05F5), 0xAF);
    ASSERT_TRUE(SetWriteProtect(true, &gpio, &wp, nullptr));
    EXPECT_EQ(camera.peekRegister(0x05F3), 0x11);
    EXPECT_EQ(camera.peekRegister(0x05F5), 0x22);
    // Type 3 flashes get the status-write enable 0x50 before the status write.
    const Frames frames = flashCommands(camera);
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(frames[0], Bytes{0x06});
    EXPECT_EQ(frames[2], Bytes{0x50});
    EXPECT_EQ(frames[3], (Bytes{0x01, 0x8C}));
}

TEST_F(Protection, LatchedProtectionReportedWithoutTouchingTheCamera) {
    camsim::CameraConfig c = config(13);
    c.registers[0x03EA] = 0x02;
    c.registers[0x0DDB] = 0x01;
    camsim::Camera& camera = attach(c);
    ASSERT_EQ(open(camera), 2);
    unsigned short gpio = 0xFFFF;
    unsigned char wp = 0x1B;
    fw_ulong latched = 0;
    EXPECT_FALSE(SetWriteProtect(false, &gpio, &wp, &latched));
    EXPECT_EQ(latched, 1u);
    EXPECT_TRUE(camera.log().empty());
    EXPECT_FALSE(SetWriteProtect(1, false, gpio, wp, nullptr)); // slot 1 is not open
}

} // namespace
} // namespace fwtest
