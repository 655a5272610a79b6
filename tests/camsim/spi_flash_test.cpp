// The SPI NOR flash model driven over its bus (select, byte transfers, deselect) with a virtual clock: write
// enable latch, programming, erasing, block protection, the status register gated by WP#, busy time and the
// identification answers.
#include "camsim/spi_flash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace {

using camsim::FlashChipConfig;
using camsim::SpiFlash;
using camsim::VirtualClock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kWip = 0x01;
constexpr std::uint8_t kWel = 0x02;

// A flash chip on its own bus with its own clock.
struct Bench {
    explicit Bench(FlashChipConfig config = {}) : flash(config, clock) {}

    // One command: chip select low, every byte exchanged, chip select high. Returns the bytes the chip sent.
    Bytes command(const Bytes& mosi) {
        Bytes miso;
        flash.select();
        for (std::uint8_t b : mosi)
            miso.push_back(flash.transfer(b));
        flash.deselect();
        return miso;
    }
    std::uint8_t status() { return command({0x05, 0x00})[1]; }
    void writeEnable() { command({0x06}); }
    void waitReady() { clock.advanceToUs(flash.busyUntilUs()); }
    void program(std::uint32_t address, const Bytes& data) {
        Bytes cmd = {0x02, static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
                     static_cast<std::uint8_t>(address)};
        cmd.insert(cmd.end(), data.begin(), data.end());
        command(cmd);
    }
    void erase(std::uint8_t opcode, std::uint32_t address) {
        command({opcode, static_cast<std::uint8_t>(address >> 16), static_cast<std::uint8_t>(address >> 8),
                 static_cast<std::uint8_t>(address)});
    }
    std::uint8_t at(std::uint32_t address) const { return flash.contents().at(address); }
    void fill(std::uint8_t value) { std::fill(flash.contents().begin(), flash.contents().end(), value); }

    VirtualClock clock;
    SpiFlash flash;
};

FlashChipConfig withStatus(std::uint8_t status, std::uint32_t size = 0x20000) {
    FlashChipConfig c;
    c.status = status;
    c.size = size;
    return c;
}

TEST(SpiFlash, WriteEnableLatchIsSetBy06AndClearedByEveryWriteCommand) {
    struct Case {
        const char* what;
        Bytes command;
    };
    const Case cases[] = {
        {"page program", {0x02, 0x00, 0x10, 0x00, 0x55}},
        {"sector erase", {0x20, 0x00, 0x10, 0x00}},
        {"sector erase D7", {0xD7, 0x00, 0x10, 0x00}},
        {"chip erase", {0x60}},
        {"chip erase C7", {0xC7}},
        {"write status", {0x01, 0x00}},
        {"write disable", {0x04}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b;
        EXPECT_EQ(b.status(), 0x00);
        b.writeEnable();
        EXPECT_EQ(b.status(), kWel);
        b.command(c.command);
        b.waitReady();
        EXPECT_EQ(b.status(), 0x00);
    }
}

TEST(SpiFlash, ProgramWithoutWriteEnableIsIgnored) {
    Bench b;
    b.program(0x100, {0x00, 0x11});
    b.waitReady();
    EXPECT_EQ(b.at(0x100), 0xFF);
    EXPECT_EQ(b.at(0x101), 0xFF);
    EXPECT_FALSE(b.flash.busy());
}

TEST(SpiFlash, ProgrammingOnlyClearsBits) {
    Bench b;
    b.writeEnable();
    b.program(0x40, {0xF0, 0x0F});
    b.waitReady();
    b.writeEnable();
    b.program(0x40, {0x3C, 0xFF});
    b.waitReady();
    EXPECT_EQ(b.at(0x40), 0x30);
    EXPECT_EQ(b.at(0x41), 0x0F);
}

TEST(SpiFlash, ProgramWrapsWithinItsPage) {
    Bench b;
    b.writeEnable();
    b.program(0x1FE, {0x01, 0x02, 0x03, 0x04});
    b.waitReady();
    EXPECT_EQ(b.at(0x1FE), 0x01);
    EXPECT_EQ(b.at(0x1FF), 0x02);
    EXPECT_EQ(b.at(0x100), 0x03);
    EXPECT_EQ(b.at(0x101), 0x04);
    EXPECT_EQ(b.at(0x200), 0xFF);
}

TEST(SpiFlash, SectorEraseSetsOne4KbSectorTo0xFF) {
    for (std::uint8_t opcode : {std::uint8_t{0x20}, std::uint8_t{0xD7}}) {
        SCOPED_TRACE(opcode);
        Bench b;
        b.fill(0x00);
        b.writeEnable();
        b.erase(opcode, 0x01234);
        b.waitReady();
        EXPECT_EQ(b.at(0x0FFF), 0x00);
        EXPECT_TRUE(std::all_of(b.flash.contents().begin() + 0x1000, b.flash.contents().begin() + 0x2000,
                                [](std::uint8_t v) { return v == 0xFF; }));
        EXPECT_EQ(b.at(0x2000), 0x00);
    }
}

TEST(SpiFlash, ChipEraseSetsEveryByteTo0xFF) {
    for (std::uint8_t opcode : {std::uint8_t{0x60}, std::uint8_t{0xC7}}) {
        SCOPED_TRACE(opcode);
        Bench b;
        b.fill(0x00);
        b.writeEnable();
        b.command({opcode});
        b.waitReady();
        EXPECT_TRUE(std::all_of(b.flash.contents().begin(), b.flash.contents().end(),
                                [](std::uint8_t v) { return v == 0xFF; }));
    }
}

// Block-protect bits of a 128 KB part: BP0 guards the upper quarter, BP1 the upper half, both the whole
// array.
TEST(SpiFlash, EraseAndProgramAreRefusedWhereBlockProtectBitsCoverTheArea) {
    struct Case {
        std::uint8_t status;
        std::uint32_t address;
        bool refused;
    };
    const Case cases[] = {
        {0x8C, 0x00000, true}, {0x8C, 0x1F000, true},  {0x0C, 0x00000, true}, {0x04, 0x17000, false},
        {0x04, 0x18000, true}, {0x08, 0x0F000, false}, {0x08, 0x10000, true}, {0x00, 0x1F000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << int{c.status} << " address " << c.address);
        Bench erase(withStatus(c.status));
        erase.fill(0x00);
        erase.writeEnable();
        erase.erase(0x20, c.address);
        erase.waitReady();
        EXPECT_EQ(erase.at(c.address), c.refused ? 0x00 : 0xFF);

        Bench program(withStatus(c.status));
        program.writeEnable();
        program.program(c.address, {0x5A});
        program.waitReady();
        EXPECT_EQ(program.at(c.address), c.refused ? 0xFF : 0x5A);
    }
}

TEST(SpiFlash, ChipEraseIsRefusedWhileAnyBlockProtectBitIsSet) {
    for (std::uint8_t status :
         {std::uint8_t{0x04}, std::uint8_t{0x08}, std::uint8_t{0x10}, std::uint8_t{0x8C}}) {
        SCOPED_TRACE(status);
        Bench b(withStatus(status));
        b.fill(0x00);
        b.writeEnable();
        b.command({0x60});
        b.waitReady();
        EXPECT_EQ(b.at(0x00000), 0x00);
        EXPECT_FALSE(b.flash.busy());
    }
}

TEST(SpiFlash, StatusWriteWithSrwdSetNeedsWpHigh) {
    Bench b(withStatus(0x8C));
    b.flash.setWriteProtectInput(false);
    b.writeEnable();
    b.command({0x01, 0x00});
    b.waitReady();
    EXPECT_EQ(b.flash.statusRegister(), 0x8C);

    b.flash.setWriteProtectInput(true);
    b.writeEnable();
    b.command({0x01, 0x00});
    b.waitReady();
    EXPECT_EQ(b.flash.statusRegister(), 0x00);

    // Without SRWD the WP# level does not matter.
    b.flash.setWriteProtectInput(false);
    b.writeEnable();
    b.command({0x01, 0x0C});
    b.waitReady();
    EXPECT_EQ(b.flash.statusRegister(), 0x0C);
}

TEST(SpiFlash, StatusWriteNeedsWriteEnableOrEnableWriteStatus) {
    Bench b;
    b.command({0x01, 0x0C});
    EXPECT_EQ(b.flash.statusRegister(), 0x00);
    b.command({0x50});
    b.command({0x01, 0x0C});
    EXPECT_EQ(b.flash.statusRegister(), 0x0C);
}

TEST(SpiFlash, StaysBusyForItsChipTimeAndIgnoresAllButStatusReads) {
    struct Case {
        const char* what;
        std::uint32_t size;
        Bytes command;
        std::uint64_t busyUs;
    };
    const Case cases[] = {
        {"page program", 0x20000, {0x02, 0x00, 0x00, 0x00, 0x00}, 700},
        {"sector erase", 0x20000, {0x20, 0x00, 0x00, 0x00}, 45000},
        {"chip erase 128 KB", 0x20000, {0x60}, 1000000},
        {"chip erase 512 KB", 0x80000, {0xC7}, 4000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench b(withStatus(0x00, c.size));
        b.clock.advanceUs(123);
        b.writeEnable();
        b.command(c.command);
        EXPECT_EQ(b.flash.busyUntilUs(), 123 + c.busyUs);
        EXPECT_EQ(b.status() & kWip, kWip);

        // Busy: write enable, reads and identification are ignored.
        b.writeEnable();
        EXPECT_EQ(b.status() & kWel, 0);
        EXPECT_EQ(b.command({0x03, 0x00, 0x10, 0x00, 0x00})[4], 0xFF);
        EXPECT_EQ(b.command({0x9F, 0x00, 0x00, 0x00}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));

        b.clock.advanceToUs(123 + c.busyUs - 1);
        EXPECT_EQ(b.status() & kWip, kWip);
        b.clock.advanceUs(1);
        EXPECT_EQ(b.status(), 0x00);
        b.writeEnable();
        EXPECT_EQ(b.status(), kWel);
    }
}

TEST(SpiFlash, StuckBusyChipNeverFinishes) {
    Bench b;
    b.flash.setStuckBusy(true);
    b.clock.advanceUs(10'000'000);
    EXPECT_EQ(b.status() & kWip, kWip);
    b.writeEnable();
    b.command({0x60});
    b.flash.setStuckBusy(false);
    EXPECT_EQ(b.status(), 0x00);
}

TEST(SpiFlash, ReadReturnsConsecutiveBytesFromTheAddress) {
    Bench b;
    b.flash.contents()[0x1234] = 0x11;
    b.flash.contents()[0x1235] = 0x22;
    EXPECT_EQ(b.command({0x03, 0x00, 0x12, 0x34, 0x00, 0x00}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x11, 0x22}));
    // Fast read has one dummy byte before the data.
    EXPECT_EQ(b.command({0x0B, 0x00, 0x12, 0x34, 0x00, 0x00})[5], 0x11);
}

TEST(SpiFlash, IdentificationAnswersJedecBytesAfterContinuationBytes) {
    FlashChipConfig c;
    c.manufacturer = 0x37;
    c.id1 = 0x30;
    c.id2 = 0x10;
    c.continuationBytes = 1;
    Bench b(c);
    EXPECT_EQ(b.command({0x9F, 0, 0, 0, 0}), (Bytes{0xFF, 0x7F, 0x37, 0x30, 0x10}));
    EXPECT_EQ(b.command({0x15, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF}));

    Bench plain;
    EXPECT_EQ(plain.command({0x9F, 0, 0, 0}), (Bytes{0xFF, 0xEF, 0x30, 0x11}));
    // 0x90 and 0xAB answer after three dummy address bytes.
    EXPECT_EQ(plain.command({0x90, 0, 0, 0, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0x30}));
    EXPECT_EQ(plain.command({0xAB, 0, 0, 0, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0x30}));
}

TEST(SpiFlash, IdAnswersOverrideTheJedecBytesPerOpcode) {
    FlashChipConfig c;
    c.idAnswers[0x9F] = {};
    c.idAnswers[0x15] = {0xC2, 0x20};
    c.idAnswers[0xAB] = {0x9D, 0x2F};
    Bench b(c);
    EXPECT_EQ(b.command({0x9F, 0, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(b.command({0x15, 0, 0, 0}), (Bytes{0xFF, 0xC2, 0x20, 0xFF}));
    EXPECT_EQ(b.command({0xAB, 0, 0, 0, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x9D, 0x2F}));
    EXPECT_EQ(b.command({0x90, 0, 0, 0, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0x30}));
}

} // namespace
