// The virtual camera seen through its vendor extension unit: the byte layouts of properties 1 and 3 to 6,
// the ROM signatures, the register maps, the serial-flash byte engine, the write-permission registers, the
// write-protect pin, faults, counters, bus time and the USB identity read from the flash.
#include "camsim/camera.h"
#include "camsim/image_builder.h"
#include "flashcore/connection/chip_table.h"
#include "flashcore/connection/register_map.h"
#include "fwconfig.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace {

using camsim::Camera;
using camsim::CameraConfig;
using camsim::VirtualClock;
using platform::HResult;
using Bytes = std::vector<std::uint8_t>;

// A payload of `length` bytes starting with `head`, the rest 0.
Bytes payload(std::size_t length, std::initializer_list<std::uint8_t> head) {
    Bytes p(length, 0x00);
    std::copy(head.begin(), head.end(), p.begin());
    return p;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

// Distinct bytes for neighbouring addresses and for the same low 16 bits in different 64 KB windows.
std::uint8_t patternAt(std::uint32_t address) {
    return static_cast<std::uint8_t>(address * 7 + (address >> 8) * 13 + (address >> 16) * 101);
}

// One camera on its own clock, driven through its extension-unit properties.
struct Rig {
    explicit Rig(const CameraConfig& config = {}) : camera(config, clock) {}

    HResult set(std::uint32_t id, Bytes data) {
        std::uint32_t returned = 0;
        return camera.property(id, true, node(), data.data(), static_cast<std::uint32_t>(data.size()),
                               returned);
    }
    // The reply of a get; empty when the call fails.
    Bytes get(std::uint32_t id, std::size_t length) {
        Bytes data(length, 0x00);
        std::uint32_t returned = 0;
        const HResult hr =
            camera.property(id, false, node(), data.data(), static_cast<std::uint32_t>(length), returned);
        if (hr != platform::kOk) return {};
        EXPECT_EQ(returned, length);
        return data;
    }
    std::uint32_t node() const { return camera.config().extensionUnitNode; }

    HResult writeRegister(std::uint16_t reg, std::uint8_t value) {
        return set(1, {static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(reg >> 8), value, 0x00});
    }
    std::uint8_t readRegister(std::uint16_t reg) {
        EXPECT_EQ(set(1, {static_cast<std::uint8_t>(reg), static_cast<std::uint8_t>(reg >> 8), 0x00, 0xFF}),
                  platform::kOk);
        const Bytes reply = get(1, 4);
        EXPECT_EQ(reply.size(), 4u);
        return reply.size() == 4 ? reply[2] : 0;
    }
    std::uint16_t entry(int e) const { return camera.mapRegister(e); }
    void writeEntry(int e, std::uint8_t value) { EXPECT_EQ(writeRegister(entry(e), value), platform::kOk); }

    void permitWrites() {
        const std::uint8_t pattern[4] = {0x12, 0x12, 0xED, 0xED};
        for (int i = 0; i < 4; ++i)
            writeEntry(flashcore::kPermission0Entry + i, pattern[i]);
    }

    // The serial-flash byte engine, driven the way the host drives it.
    void sfSelect() { writeEntry(flashcore::kSfChipSelectEntry, 0); }
    void sfRelease() { writeEntry(flashcore::kSfChipSelectEntry, 1); }
    void sfSend(std::uint8_t b) {
        writeEntry(flashcore::kSfDataOutEntry, b);
        writeEntry(flashcore::kSfTriggerEntry, 1);
        EXPECT_EQ(readRegister(entry(flashcore::kSfReadyEntry)), 1);
    }
    std::uint8_t sfReceive() {
        writeEntry(flashcore::kSfDataInEntry, 0);
        writeEntry(flashcore::kSfTriggerEntry, 2);
        EXPECT_EQ(readRegister(entry(flashcore::kSfReadyEntry)), 1);
        return readRegister(entry(flashcore::kSfDataInEntry));
    }
    void sfCommand(std::initializer_list<std::uint8_t> bytes) {
        sfSelect();
        for (std::uint8_t b : bytes)
            sfSend(b);
        sfRelease();
    }
    Bytes sfJedecId() {
        sfSelect();
        sfSend(0x9F);
        Bytes id;
        for (int i = 0; i < 3; ++i)
            id.push_back(sfReceive());
        sfRelease();
        return id;
    }

    void fillFlashWithPattern() {
        auto& contents = camera.flash().contents();
        for (std::uint32_t a = 0; a < contents.size(); ++a)
            contents[a] = patternAt(a);
    }
    Bytes flashAt(std::uint32_t address, std::size_t count) {
        return slice(camera.flash().contents(), address, count);
    }

    VirtualClock clock;
    Camera camera;
};

CameraConfig bigFlash() {
    CameraConfig c;
    c.flash.size = 0x40000;
    return c;
}

// XU6 block header: start, direction, block size, end, the two fixed bytes.
Bytes blockHeader(std::uint32_t start, bool read, std::uint8_t blockSize, std::uint32_t end) {
    Bytes h(64, 0x00);
    for (int i = 0; i < 4; ++i) {
        h[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(start >> (8 * i));
        h[static_cast<std::size_t>(6 + i)] = static_cast<std::uint8_t>(end >> (8 * i));
    }
    h[4] = read ? 0x80 : 0x00;
    h[5] = blockSize;
    h[10] = 0x0B;
    h[11] = 0x01;
    return h;
}

TEST(ExtensionUnitRegisters, WriteIsAddressLowByteFirstValueThenZero) {
    Rig rig;
    ASSERT_EQ(rig.set(1, {0x34, 0x12, 0x5A, 0x00}), platform::kOk);
    EXPECT_EQ(rig.camera.peekRegister(0x1234), 0x5A);

    // A set with 0xFF in byte 3 only names the register to read; the get answers its value in byte 2.
    ASSERT_EQ(rig.set(1, {0x34, 0x12, 0x00, 0xFF}), platform::kOk);
    EXPECT_EQ(rig.camera.peekRegister(0x1234), 0x5A);
    EXPECT_EQ(rig.get(1, 4), (Bytes{0x00, 0x00, 0x5A, 0x00}));

    // Register 0x101F written with 1F 10 5A 00 keeps reading the map B marker.
    ASSERT_EQ(rig.set(1, {0x1F, 0x10, 0x5A, 0x00}), platform::kOk);
    ASSERT_EQ(rig.set(1, {0x1F, 0x10, 0x00, 0xFF}), platform::kOk);
    EXPECT_EQ(rig.get(1, 4), (Bytes{0x00, 0x00, 0xAA, 0x00}));
}

TEST(ExtensionUnitRegisters, Register101FTellsTheMapAndTheChipId) {
    struct Case {
        char map;
        std::uint8_t chipId;
        std::uint8_t reads;
    };
    for (const Case& c : {Case{'B', 0x70, 0xAA}, Case{'B', 0x92, 0xAA}, Case{'A', 0x70, 0x70},
                          Case{'A', 0x83, 0x83}, Case{'A', 0x92, 0x92}}) {
        SCOPED_TRACE(testing::Message() << c.map << " " << int{c.chipId});
        CameraConfig config;
        config.registerMap = c.map;
        config.chipId = c.chipId;
        Rig rig(config);
        EXPECT_EQ(rig.readRegister(flashcore::kMapSelectRegister), c.reads);
    }
}

TEST(ExtensionUnitRegisters, Bit4Of100AHidesTheChipIdOnMapA) {
    CameraConfig config;
    config.registerMap = 'A';
    config.chipId = 0x80;
    Rig rig(config);
    ASSERT_EQ(rig.writeRegister(0x100A, 0x13), platform::kOk);
    EXPECT_EQ(rig.readRegister(flashcore::kMapSelectRegister), 0x00);
    ASSERT_EQ(rig.writeRegister(0x100A, 0x03), platform::kOk);
    EXPECT_EQ(rig.readRegister(flashcore::kMapSelectRegister), 0x80);

    Rig mapB;
    ASSERT_EQ(mapB.writeRegister(0x100A, 0x10), platform::kOk);
    EXPECT_EQ(mapB.readRegister(flashcore::kMapSelectRegister), 0xAA);
}

TEST(ExtensionUnitMemory, WriteCarriesAddressBits16To17InBits4To5OfTheCountByte) {
    Rig rig(bigFlash());
    rig.permitWrites();
    ASSERT_EQ(rig.set(3, payload(12, {0x08, 0x50, 0x23, 0xA1, 0xB2, 0xC3})), platform::kOk);
    EXPECT_EQ(rig.flashAt(0x25007, 5), (Bytes{0xFF, 0xA1, 0xB2, 0xC3, 0xFF}));

    // The same bytes one address lower: a 1-byte head, then 2 bytes at the next address.
    Rig split(bigFlash());
    split.permitWrites();
    ASSERT_EQ(split.set(3, payload(12, {0x07, 0x50, 0x21, 0xA1})), platform::kOk);
    ASSERT_EQ(split.set(3, payload(12, {0x08, 0x50, 0x22, 0xB2, 0xC3})), platform::kOk);
    EXPECT_EQ(split.flashAt(0x25006, 5), (Bytes{0xFF, 0xA1, 0xB2, 0xC3, 0xFF}));
    EXPECT_EQ(split.camera.counters().memoryBytesWritten, 3u);
}

TEST(ExtensionUnitMemory, WritesAreDroppedUnlessAllFourPermissionRegistersHoldTheWritablePattern) {
    struct Case {
        const char* what;
        std::array<std::uint8_t, 4> pattern;
        bool written;
    };
    const Case cases[] = {
        {"power-on pattern", {0x34, 0x34, 0x34, 0x34}, false},
        {"writable pattern", {0x12, 0x12, 0xED, 0xED}, true},
        {"last register still protected", {0x12, 0x12, 0xED, 0x34}, false},
        {"swapped pattern", {0xED, 0xED, 0x12, 0x12}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        for (int i = 0; i < 4; ++i)
            rig.writeEntry(flashcore::kPermission0Entry + i, c.pattern[static_cast<std::size_t>(i)]);
        ASSERT_EQ(rig.set(3, payload(12, {0x00, 0x10, 0x02, 0x12, 0x34})), platform::kOk);
        ASSERT_EQ(rig.set(6, blockHeader(0x2000, false, 2, 0x2002)), platform::kOk);
        ASSERT_EQ(rig.set(6, payload(64, {0x56, 0x78})), platform::kOk);
        EXPECT_EQ(rig.flashAt(0x1000, 2), c.written ? (Bytes{0x12, 0x34}) : (Bytes{0xFF, 0xFF}));
        EXPECT_EQ(rig.flashAt(0x2000, 2), c.written ? (Bytes{0x56, 0x78}) : (Bytes{0xFF, 0xFF}));
        EXPECT_EQ(rig.camera.counters().droppedWrites, c.written ? 0u : 2u);
    }
}

TEST(ExtensionUnitMemory, WriteDuplicationControlIsAcceptedAndWritesNothing) {
    Rig rig;
    rig.permitWrites();
    EXPECT_EQ(rig.set(3, payload(12, {0x00, 0x00, 0x40, 0x01, 0x34, 0x12})), platform::kOk);
    EXPECT_EQ(rig.flashAt(0, 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(rig.camera.counters().memoryBytesWritten, 0u);
}

TEST(ExtensionUnitMemory, ReadRequestThenFetchesOfEightBytes) {
    Rig rig(bigFlash());
    rig.fillFlashWithPattern();
    ASSERT_EQ(rig.set(3, payload(12, {0x00, 0x01, 0x88})), platform::kOk);
    for (std::uint32_t piece = 0; piece < 3; ++piece) {
        const Bytes reply = rig.get(3, 12);
        ASSERT_EQ(reply.size(), 12u);
        EXPECT_EQ(slice(reply, 0, 3), (Bytes{0, 0, 0}));
        EXPECT_EQ(slice(reply, 3, 8), rig.flashAt(0x100 + 8 * piece, 8)) << "piece " << piece;
        EXPECT_EQ(slice(reply, 11, 1), (Bytes{0}));
    }
    // A read request does not write, whatever its count bits say.
    rig.permitWrites();
    ASSERT_EQ(rig.set(3, payload(12, {0x00, 0x02, 0x83, 0x00, 0x00, 0x00})), platform::kOk);
    EXPECT_EQ(rig.flashAt(0x200, 3), (Bytes{patternAt(0x200), patternAt(0x201), patternAt(0x202)}));
}

TEST(ExtensionUnitMemory, ReadPointerWrapsInsideItsWindowUntilANewRequest) {
    Rig rig(bigFlash());
    rig.fillFlashWithPattern();
    ASSERT_EQ(rig.set(3, payload(12, {0xF8, 0xFF, 0x88})), platform::kOk);
    EXPECT_EQ(slice(rig.get(3, 12), 3, 8), rig.flashAt(0xFFF8, 8));
    EXPECT_EQ(slice(rig.get(3, 12), 3, 8), rig.flashAt(0x0000, 8)) << "wrapped within 0x0000..0xFFFF";

    ASSERT_EQ(rig.set(3, payload(12, {0x00, 0x00, 0x98})), platform::kOk);
    EXPECT_EQ(slice(rig.get(3, 12), 3, 8), rig.flashAt(0x10000, 8));

    // Window 3 (bits 4..5 = 3) wraps within 0x30000..0x3FFFF.
    ASSERT_EQ(rig.set(3, payload(12, {0xF8, 0xFF, 0xB8})), platform::kOk);
    EXPECT_EQ(slice(rig.get(3, 12), 3, 8), rig.flashAt(0x3FFF8, 8));
    EXPECT_EQ(slice(rig.get(3, 12), 3, 8), rig.flashAt(0x30000, 8));
}

TEST(ExtensionUnitRom, EveryFamilyAnswersItsSignatureAtItsRomAddressOnly) {
    for (int family = 0; family < flashcore::kChipFamilyCount; ++family) {
        const flashcore::ChipRow& row = flashcore::ChipTable[static_cast<std::size_t>(family)];
        SCOPED_TRACE(testing::Message() << "family " << family);
        CameraConfig config;
        config.family = family;
        Rig rig(config);
        for (std::uint16_t address : flashcore::kSignatureAddresses) {
            ASSERT_EQ(rig.set(4, payload(12, {static_cast<std::uint8_t>(address),
                                              static_cast<std::uint8_t>(address >> 8), 0x08})),
                      platform::kOk);
            const Bytes reply = rig.get(4, 12);
            ASSERT_EQ(reply.size(), 12u);
            EXPECT_EQ(reply[2], 8);
            const Bytes bytes = slice(reply, 3, 8);
            if (address == row.romAddress) {
                EXPECT_EQ(bytes, Bytes(row.signature.begin(), row.signature.end()));
                EXPECT_EQ(flashcore::matchChipRow(address, bytes.data()), family);
            } else {
                EXPECT_EQ(flashcore::matchChipRow(address, bytes.data()), -1) << "address " << address;
            }
        }
    }
}

TEST(ExtensionUnitMemoryInformation, SectorTableAddressLowByteFirstThenType) {
    Rig rig;
    EXPECT_EQ(rig.get(5, 12), payload(12, {0x00, 0x90, 0x02}));

    CameraConfig config;
    config.sectorTableAddress = 0x1234;
    config.memoryType = 1;
    Rig other(config);
    EXPECT_EQ(other.get(5, 12), payload(12, {0x34, 0x12, 0x01}));
}

TEST(ExtensionUnitBlockMode, WholeBlocksAfterAHeaderAndTheRemainderAfterASecondHeader) {
    Rig rig;
    rig.permitWrites();
    Bytes data(200);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 3 + 1);

    // 200 bytes at 0x1000: three blocks of 64 (end 0x1000 + 192), then 8 bytes after their own header.
    ASSERT_EQ(rig.set(6, blockHeader(0x1000, false, 64, 0x10C0)), platform::kOk);
    for (std::size_t k = 0; k < 3; ++k)
        ASSERT_EQ(rig.set(6, slice(data, 64 * k, 64)), platform::kOk);
    ASSERT_EQ(rig.set(6, blockHeader(0x10C0, false, 8, 0x10C8)), platform::kOk);
    Bytes tail = slice(data, 192, 8);
    tail.resize(64, 0x00);
    ASSERT_EQ(rig.set(6, tail), platform::kOk);
    EXPECT_EQ(rig.flashAt(0x1000, 200), data);
    EXPECT_EQ(rig.flashAt(0x10C8, 1), (Bytes{0xFF}));
    EXPECT_EQ(rig.flashAt(0x0FFF, 1), (Bytes{0xFF}));

    // Read back: 100 bytes at 0x1000 are a 64-byte block, then a 36-byte block.
    ASSERT_EQ(rig.set(6, blockHeader(0x1000, true, 64, 0x1040)), platform::kOk);
    EXPECT_EQ(rig.get(6, 64), slice(data, 0, 64));
    EXPECT_TRUE(rig.get(6, 64).empty()) << "no block left after the header's end";
    ASSERT_EQ(rig.set(6, blockHeader(0x1040, true, 36, 0x1064)), platform::kOk);
    Bytes expected = slice(data, 64, 36);
    expected.resize(64, 0x00);
    EXPECT_EQ(rig.get(6, 64), expected);
}

TEST(ExtensionUnitBlockMode, ShortReadIsOneBlockOfItsLength) {
    Rig rig;
    rig.fillFlashWithPattern();
    ASSERT_EQ(rig.set(6, blockHeader(0x0123, true, 10, 0x012D)), platform::kOk);
    Bytes expected = rig.flashAt(0x0123, 10);
    expected.resize(64, 0x00);
    EXPECT_EQ(rig.get(6, 64), expected);
    EXPECT_EQ(rig.camera.counters().memoryBytesRead, 10u);
}

TEST(ExtensionUnitBlockMode, MalformedHeadersAreRefused) {
    Rig rig;
    Bytes noMarker = blockHeader(0, true, 64, 64);
    noMarker[10] = 0x00;
    Bytes badDirection = blockHeader(0, true, 64, 64);
    badDirection[4] = 0x40;
    for (const Bytes& header :
         {noMarker, badDirection, blockHeader(0, true, 0, 64), blockHeader(0, true, 65, 65)})
        EXPECT_NE(rig.set(6, header), platform::kOk);
    EXPECT_TRUE(rig.get(6, 64).empty());
}

// The byte engine on both register maps: in manual mode it moves bytes to and from the flash; outside manual
// mode the flash sees nothing.
TEST(SerialFlashEngine, DrivesTheFlashOnlyInManualMode) {
    for (char map : {'A', 'B'}) {
        SCOPED_TRACE(map);
        CameraConfig config;
        config.registerMap = map;
        Rig rig(config);
        std::fill(rig.camera.flash().contents().begin(), rig.camera.flash().contents().end(), 0x00);

        EXPECT_EQ(rig.sfJedecId(), (Bytes{0x00, 0x00, 0x00}));
        rig.sfCommand({0x06});
        rig.sfCommand({0x60});
        EXPECT_EQ(rig.camera.flash().contents()[0], 0x00);

        rig.writeEntry(flashcore::kSfManualModeEntry, 1);
        EXPECT_EQ(rig.sfJedecId(), (Bytes{0xEF, 0x30, 0x11}));
        rig.sfCommand({0x06});
        rig.sfCommand({0x60});
        EXPECT_EQ(rig.camera.flash().contents()[0], 0xFF);
        rig.writeEntry(flashcore::kSfManualModeEntry, 0);
    }
}

TEST(SerialFlashEngine, StatusReadShowsBusyUntilTheEraseTimeHasPassed) {
    Rig rig;
    rig.writeEntry(flashcore::kSfManualModeEntry, 1);
    rig.sfCommand({0x06});
    rig.sfCommand({0x20, 0x00, 0x10, 0x00});
    const std::uint64_t done = rig.camera.flash().busyUntilUs();
    EXPECT_EQ(done, rig.clock.nowUs() + 45000);
    rig.sfSelect();
    rig.sfSend(0x05);
    EXPECT_EQ(rig.sfReceive() & 0x01, 0x01);
    rig.clock.advanceToUs(done);
    EXPECT_EQ(rig.sfReceive(), 0x00);
    rig.sfRelease();
}

// The flash holds status 0x8C (SRWD and block protect); a status write through the byte engine succeeds only
// while the GPIO wired to WP# leaves the input high.
TEST(SerialFlashEngine, WriteProtectPinGatesStatusWrites) {
    struct Case {
        const char* what;
        std::optional<int> wpPin;
        bool inverted;
        std::uint8_t gpioEnable;
        std::uint8_t gpioOut;
        bool accepted;
    };
    const Case cases[] = {
        {"no pin: WP# tied high", std::nullopt, false, 0xFF, 0x00, true},
        {"pin 1 driven low", 1, false, 0x02, 0x00, false},
        {"pin 1 driven low, other pins high", 1, false, 0xFF, 0xFD, false},
        {"pin 1 driven high", 1, false, 0x02, 0x02, true},
        {"pin 1 an input pulled high", 1, false, 0x00, 0x00, true},
        {"pin 3 driven low", 3, false, 0x08, 0x02, false},
        {"inverted pin 1 driven low", 1, true, 0x02, 0x00, true},
        {"inverted pin 1 driven high", 1, true, 0x02, 0x02, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CameraConfig config;
        config.wpPin = c.wpPin;
        config.wpPinInverted = c.inverted;
        config.flash.status = 0x8C;
        Rig rig(config);
        rig.writeEntry(flashcore::kGpioEnableEntry, c.gpioEnable);
        rig.writeEntry(flashcore::kGpioOutEntry, c.gpioOut);
        rig.writeEntry(flashcore::kSfManualModeEntry, 1);
        rig.sfCommand({0x06});
        rig.sfCommand({0x01, 0x00});
        EXPECT_EQ(rig.camera.flash().statusRegister(), c.accepted ? 0x00 : 0x8C);
    }
}

TEST(ControllerGpio, InputRegisterReadsOutputsAtTheirDrivenLevelAndInputsAtTheirStrap) {
    struct Case {
        const char* what;
        std::uint8_t straps;
        std::uint8_t enable;
        std::uint8_t output;
        std::uint8_t reads;
    };
    const Case cases[] = {
        {"all pins inputs", 0xE7, 0x00, 0xFF, 0xE7},
        {"all pins outputs", 0xE7, 0xFF, 0x5A, 0x5A},
        {"pins 3 and 4 outputs, 3 low and 4 high", 0xFF, 0x18, 0x10, 0xF7},
        {"an input strapped low ignores its output bit", 0xF7, 0x00, 0x08, 0xF7},
    };
    for (const char map : {'A', 'B'}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "map " << map << ": " << c.what);
            CameraConfig config;
            config.registerMap = map;
            config.straps = c.straps;
            Rig rig(config);
            rig.writeEntry(flashcore::kGpioEnableEntry, c.enable);
            rig.writeEntry(flashcore::kGpioOutEntry, c.output);
            EXPECT_EQ(rig.readRegister(0x1005), c.reads);
            // The input register ignores writes.
            ASSERT_EQ(rig.writeRegister(0x1005, static_cast<std::uint8_t>(~c.reads)), platform::kOk);
            EXPECT_EQ(rig.readRegister(0x1005), c.reads);
        }
    }
}

TEST(ControllerGpio, WriteProtectPinAsAnInputFollowsItsStrap) {
    for (const std::uint8_t straps : {std::uint8_t{0xFF}, std::uint8_t{0xFD}}) {
        SCOPED_TRACE(int{straps});
        CameraConfig config;
        config.wpPin = 1;
        config.straps = straps;
        config.flash.status = 0x8C;
        Rig rig(config);
        rig.writeEntry(flashcore::kGpioEnableEntry, 0x00);
        rig.writeEntry(flashcore::kSfManualModeEntry, 1);
        rig.sfCommand({0x06});
        rig.sfCommand({0x01, 0x00});
        EXPECT_EQ(rig.camera.flash().statusRegister(), straps == 0xFF ? 0x00 : 0x8C);
    }
}

TEST(ControllerReset, AWriteToTheResetRegisterWithBit0ClearRestartsTheController) {
    CameraConfig config;
    config.registerMap = 'A';
    config.registers[0x1073] = 0x05;
    config.registers[0x2000] = 0x11;
    Rig rig(config);
    rig.writeRegister(0x2000, 0x22);
    rig.writeEntry(flashcore::kResetEntry, 0x01);
    EXPECT_EQ(rig.camera.peekRegister(0x2000), 0x22) << "bit 0 set: no reset";
    rig.writeEntry(flashcore::kResetEntry, 0x04);
    EXPECT_EQ(rig.camera.peekRegister(0x2000), 0x11);
    EXPECT_EQ(rig.camera.peekRegister(0x1073), 0x05) << "the reset register is back at its power-up value";
}

TEST(ControllerFlashWriter, UsesTheOpcodeRegistersAndRespectsBlockProtection) {
    // Protected flash: the controller's page program is refused by the chip.
    CameraConfig protectedFlash;
    protectedFlash.flash.status = 0x8C;
    Rig locked(protectedFlash);
    locked.permitWrites();
    ASSERT_EQ(locked.set(3, payload(12, {0x00, 0x10, 0x01, 0x00})), platform::kOk);
    EXPECT_EQ(locked.flashAt(0x1000, 1), (Bytes{0xFF}));

    // Opcode registers holding something other than write enable and program: nothing is written.
    Rig noOpcodes;
    noOpcodes.permitWrites();
    noOpcodes.writeEntry(flashcore::kWriteEnableOpcodeEntry, 0x00);
    noOpcodes.writeEntry(flashcore::kProgramOpcodeEntry, 0x00);
    ASSERT_EQ(noOpcodes.set(3, payload(12, {0x00, 0x10, 0x01, 0x00})), platform::kOk);
    EXPECT_EQ(noOpcodes.flashAt(0x1000, 1), (Bytes{0xFF}));

    // A block write across a page boundary programs both pages.
    Rig rig;
    rig.permitWrites();
    ASSERT_EQ(rig.set(6, blockHeader(0x10FC, false, 8, 0x1104)), platform::kOk);
    ASSERT_EQ(rig.set(6, payload(64, {1, 2, 3, 4, 5, 6, 7, 8})), platform::kOk);
    EXPECT_EQ(rig.flashAt(0x10FC, 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST(CameraFaults, FailTheNthTransfer) {
    Rig rig;
    rig.camera.faults().failTransfer = 3;
    for (std::uint16_t n = 1; n <= 5; ++n) {
        const HResult hr = rig.writeRegister(static_cast<std::uint16_t>(0x2000 + n), 0x11);
        EXPECT_EQ(hr == platform::kOk, n != 3) << "transfer " << n;
        EXPECT_EQ(rig.camera.peekRegister(static_cast<std::uint16_t>(0x2000 + n)), n != 3 ? 0x11 : 0x00);
    }
    EXPECT_EQ(rig.camera.counters().failedTransfers, 1u);
}

TEST(CameraFaults, FailEveryTransferAfterN) {
    Rig rig;
    rig.camera.faults().failAfterTransfer = 2;
    EXPECT_EQ(rig.writeRegister(0x2001, 1), platform::kOk);
    EXPECT_EQ(rig.set(1, {0x01, 0x20, 0x00, 0xFF}), platform::kOk);
    EXPECT_TRUE(rig.get(1, 4).empty());
    EXPECT_NE(rig.writeRegister(0x2002, 1), platform::kOk);
    EXPECT_EQ(rig.camera.peekRegister(0x2002), 0);
    EXPECT_TRUE(rig.camera.plugged());
    EXPECT_EQ(rig.camera.counters().failedTransfers, 2u);
}

TEST(CameraFaults, UnplugAtTransferN) {
    Rig rig;
    rig.camera.faults().unplugAtTransfer = 2;
    EXPECT_EQ(rig.writeRegister(0x2001, 1), platform::kOk);
    EXPECT_NE(rig.writeRegister(0x2002, 1), platform::kOk);
    EXPECT_FALSE(rig.camera.plugged());
    EXPECT_NE(rig.writeRegister(0x2003, 1), platform::kOk);
    EXPECT_EQ(rig.camera.peekRegister(0x2002), 0);
}

TEST(CameraCounters, CountPropertyCallsRegisterAccessesAndBytes) {
    Rig rig;
    rig.permitWrites(); // 4 register writes
    rig.writeRegister(0x2000, 7);
    rig.readRegister(0x2000);
    rig.set(3, payload(12, {0x00, 0x10, 0x03, 1, 2, 3}));
    rig.set(3, payload(12, {0x00, 0x10, 0x88}));
    rig.get(3, 12);
    rig.set(4, payload(12, {0xF8, 0xAF, 0x08}));
    rig.get(4, 12);
    rig.get(5, 12);

    const auto& n = rig.camera.counters();
    EXPECT_EQ(n.propertySets[1], 6u);
    EXPECT_EQ(n.propertyGets[1], 1u);
    EXPECT_EQ(n.propertySets[3], 2u);
    EXPECT_EQ(n.propertyGets[3], 1u);
    EXPECT_EQ(n.propertySets[4], 1u);
    EXPECT_EQ(n.propertyGets[4], 1u);
    EXPECT_EQ(n.propertyGets[5], 1u);
    EXPECT_EQ(n.propertyCalls(), 13u);
    EXPECT_EQ(n.transfers, 13u);
    EXPECT_EQ(n.registerWrites, 5u);
    EXPECT_EQ(n.registerReads, 1u);
    EXPECT_EQ(n.memoryBytesWritten, 3u);
    EXPECT_EQ(n.memoryBytesRead, 8u);
    EXPECT_EQ(rig.flashAt(0x1000, 3), (Bytes{1, 2, 3}));
}

TEST(CameraClock, EveryPropertyCallCostsTheBusTime) {
    CameraConfig config;
    config.busTimeUs = 250;
    Rig rig(config);
    rig.camera.faults().failTransfer = 2;
    rig.writeRegister(0x2000, 1);
    rig.writeRegister(0x2001, 1); // fails, but the bus was used
    rig.readRegister(0x2000);
    rig.get(5, 12);
    EXPECT_EQ(rig.clock.nowUs(), 5 * 250u);
}

TEST(CameraClock, MemoryAccessWaitsForThePageProgramToFinish) {
    CameraConfig config;
    config.busTimeUs = 100;
    Rig rig(config);
    rig.permitWrites();
    const std::uint64_t start = rig.clock.nowUs();
    ASSERT_EQ(rig.set(3, payload(12, {0x00, 0x10, 0x01, 0x42})), platform::kOk);
    EXPECT_EQ(rig.camera.flash().busyUntilUs(), start + 100 + 700);
    ASSERT_EQ(rig.set(3, payload(12, {0x00, 0x10, 0x81})), platform::kOk);
    EXPECT_EQ(slice(rig.get(3, 12), 3, 1), (Bytes{0x42}));
    EXPECT_EQ(rig.clock.nowUs(), start + 800) << "the fetch waited for the program";
    ASSERT_EQ(rig.set(3, payload(12, {0x01, 0x10, 0x01, 0x43})), platform::kOk);
    ASSERT_EQ(rig.set(3, payload(12, {0x02, 0x10, 0x01, 0x44})), platform::kOk);
    EXPECT_EQ(rig.clock.nowUs(), start + 900 + 700) << "the second write waited for the first program";
    EXPECT_EQ(rig.flashAt(0x1000, 3), (Bytes{0x42, 0x43, 0x44}));
}

struct IdentityCase {
    int family;
    const char* model;
};

class CameraIdentity : public testing::TestWithParam<IdentityCase> {};

TEST_P(CameraIdentity, ReportsTheFirmwareInItsFlashAsOfTheLastReset) {
    const IdentityCase& c = GetParam();
    const auto& sig = flashcore::ChipTable[static_cast<std::size_t>(c.family)].signature;
    camsim::ImageDescription d;
    d.chip = c.model;
    d.variant = sig[5];
    d.vendorId = 0x1234;
    d.productId = 0xABCD;
    d.bcdDevice = 0x0210;
    d.serialNumber = "SN42";
    CameraConfig config;
    config.family = c.family;
    config.firmware = camsim::buildImage(d);
    Rig rig(config);
    EXPECT_EQ(rig.camera.identity().vendorId, 0x1234);
    EXPECT_EQ(rig.camera.identity().productId, 0xABCD);
    EXPECT_EQ(rig.camera.identity().deviceRelease, 0x0210);
    EXPECT_EQ(rig.camera.identity().strings[0], "USB Camera");
    EXPECT_EQ(rig.camera.identity().strings[1], "Camera Maker");
    EXPECT_EQ(rig.camera.identity().strings[2], "SN42");
    EXPECT_EQ(rig.camera.identity().strings[3], "Video Control");
    const std::u16string path = rig.camera.devicePath();
    EXPECT_NE(path.find(u"vid_1234&pid_abcd"), std::u16string::npos);

    // A new image in the flash shows only after a reset through register map entry 3.
    d.vendorId = 0x5555;
    const Bytes next = camsim::buildImage(d);
    std::copy(next.begin(), next.end(), rig.camera.flash().contents().begin());
    EXPECT_EQ(rig.camera.identity().vendorId, 0x1234);
    rig.writeEntry(flashcore::kResetEntry, 0x00);
    EXPECT_EQ(rig.camera.identity().vendorId, 0x5555);
}

INSTANTIATE_TEST_SUITE_P(LayoutGroups, CameraIdentity,
                         testing::Values(IdentityCase{0, "T410M"}, IdentityCase{1, "T410M"},
                                         IdentityCase{2, "T420M"}, IdentityCase{6, "T470M"},
                                         IdentityCase{9, "T460M"}, IdentityCase{13, "T465M"}),
                         [](const testing::TestParamInfo<IdentityCase>& info) {
                             return std::string("family") + std::to_string(info.param.family);
                         });

TEST(CameraIdentity, WithoutFirmwareReportsTheMakerVendorIdAndProduct6362) {
    camsim::ImageDescription noMarker;
    noMarker.presenceMarker = false;
    for (const Bytes& firmware : {Bytes{}, camsim::buildImage(noMarker)}) {
        CameraConfig config;
        config.firmware = firmware;
        Rig rig(config);
        EXPECT_EQ(rig.camera.identity().vendorId, FWT_MAKER_VENDOR_ID);
        EXPECT_EQ(rig.camera.identity().vendorId, 0xFFF0);
        EXPECT_EQ(rig.camera.identity().productId, 0x6362);
        EXPECT_EQ(rig.camera.identity().strings[0], "");
        EXPECT_NE(rig.camera.devicePath().find(u"vid_fff0&pid_6362"), std::u16string::npos);
    }
}

TEST(CameraReset, RestoresThePowerOnRegisters) {
    Rig rig;
    rig.permitWrites();
    rig.writeRegister(0x2000, 0x77);
    // Bit 0 set in the reset register does not reset.
    rig.writeEntry(flashcore::kResetEntry, 0x01);
    EXPECT_EQ(rig.camera.peekRegister(0x2000), 0x77);
    rig.writeEntry(flashcore::kResetEntry, 0x00);
    EXPECT_EQ(rig.camera.peekRegister(0x2000), 0x00);
    EXPECT_EQ(rig.readRegister(rig.entry(flashcore::kPermission0Entry)), 0x34);
    ASSERT_EQ(rig.set(3, payload(12, {0x00, 0x10, 0x01, 0x00})), platform::kOk);
    EXPECT_EQ(rig.camera.counters().droppedWrites, 1u);
}

} // namespace
