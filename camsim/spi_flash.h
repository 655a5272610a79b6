// A SPI NOR flash chip as its datasheet describes it: JEDEC identification, a status register with the
// write-in-progress and write-enable latches, block-protect bits and the status-register write disable bit
// gated by the WP# input, page programming that can only clear bits, erase to 0xFF, and busy times.
#pragma once

#include "camsim/clock.h"

#include <cstdint>
#include <map>
#include <vector>

namespace camsim {

struct FlashTimings {
    std::uint32_t pageProgramUs = 700;
    std::uint32_t sectorEraseUs = 45000;
    std::uint32_t blockEraseUs = 150000;
    std::uint32_t chipEraseUsPer128K = 1000000;
    std::uint32_t writeStatusUs = 5000;
};

struct FlashChipConfig {
    std::uint8_t manufacturer = 0xEF;
    std::uint8_t id1 = 0x30;
    std::uint8_t id2 = 0x11;
    // Number of 0x7F continuation bytes the chip sends before its manufacturer id.
    int continuationBytes = 0;
    std::uint32_t size = 0x20000;
    FlashTimings timings;
    // Identification answers by opcode. Opcodes absent here answer the JEDEC bytes for 0x9F, 0x90 and 0xAB
    // (after their three dummy bytes) and nothing (0xFF) for anything else; an empty list makes the chip
    // ignore that opcode.
    std::map<std::uint8_t, std::vector<std::uint8_t>> idAnswers;
    // Status register as it was left by the last write (non-volatile).
    std::uint8_t status = 0x00;
};

class SpiFlash {
  public:
    static constexpr std::uint8_t kWip = 0x01;
    static constexpr std::uint8_t kWel = 0x02;
    static constexpr std::uint8_t kBpMask = 0x1C;
    static constexpr std::uint8_t kSrwd = 0x80;
    static constexpr std::uint32_t kPageSize = 256;
    static constexpr std::uint32_t kSectorSize = 4096;

    SpiFlash(const FlashChipConfig& config, VirtualClock& clock);

    // The SPI bus: chip select low, one byte exchanged per transfer, chip select high (commands that change
    // the array or the status register execute at the rising edge).
    void select();
    std::uint8_t transfer(std::uint8_t mosi);
    void deselect();

    // Level of the WP# input (true = high, writes of a status register with SRWD set are allowed).
    void setWriteProtectInput(bool high) { wpHigh_ = high; }

    bool busy() const { return clock_.nowUs() < busyUntilUs_; }
    std::uint64_t busyUntilUs() const { return busyUntilUs_; }
    std::uint8_t status() const;
    // Forces the chip to stay busy (fault injection: a flash that never finishes).
    void setStuckBusy(bool stuck) { stuckBusy_ = stuck; }

    const FlashChipConfig& config() const { return config_; }
    std::vector<std::uint8_t>& contents() { return array_; }
    const std::vector<std::uint8_t>& contents() const { return array_; }
    std::uint8_t statusRegister() const { return statusReg_; }
    // Sets the non-volatile status bits directly, as a programmer on the bench would.
    void setStatusRegister(std::uint8_t value) { statusReg_ = value & (kBpMask | kSrwd); }

    // True when the block-protect bits cover `address`.
    bool isProtected(std::uint32_t address) const;
    // Number of sector, block and chip erases the array has executed (refused ones do not count).
    std::uint64_t erasesExecuted() const { return erases_; }

  private:
    void executeAtDeselect();
    void startBusy(std::uint64_t us);
    std::uint32_t commandAddress() const;
    std::vector<std::uint8_t> idAnswer(std::uint8_t opcode) const;

    FlashChipConfig config_;
    VirtualClock& clock_;
    std::vector<std::uint8_t> array_;
    std::uint8_t statusReg_;
    bool wel_ = false;
    bool ewsr_ = false;
    bool wpHigh_ = true;
    bool stuckBusy_ = false;
    std::uint64_t busyUntilUs_ = 0;
    std::uint64_t erases_ = 0;

    bool selected_ = false;
    std::vector<std::uint8_t> command_; // bytes received since chip select went low
    std::uint32_t readAddress_ = 0;
};

} // namespace camsim
