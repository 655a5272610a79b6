#include "camsim/spi_flash.h"

#include <algorithm>

namespace camsim {

namespace {

constexpr std::uint8_t kOpWriteStatus = 0x01;
constexpr std::uint8_t kOpPageProgram = 0x02;
constexpr std::uint8_t kOpRead = 0x03;
constexpr std::uint8_t kOpWriteDisable = 0x04;
constexpr std::uint8_t kOpReadStatus = 0x05;
constexpr std::uint8_t kOpWriteEnable = 0x06;
constexpr std::uint8_t kOpFastRead = 0x0B;
constexpr std::uint8_t kOpSectorErase = 0x20;
constexpr std::uint8_t kOpEnableWriteStatus = 0x50;
constexpr std::uint8_t kOpChipErase = 0x60;
constexpr std::uint8_t kOpReadId = 0x9F;
constexpr std::uint8_t kOpReadManufacturerId = 0x90;
constexpr std::uint8_t kOpReleasePowerDownId = 0xAB;
constexpr std::uint8_t kOpChipEraseAlt = 0xC7;
constexpr std::uint8_t kOpSectorEraseAlt = 0xD7;
constexpr std::uint8_t kOpBlockErase = 0xD8;

// Status bits a write-status command can change: block protect 0..2 and the status-register write disable.
constexpr std::uint8_t kWritableStatusBits = 0x9C;

} // namespace

SpiFlash::SpiFlash(const FlashChipConfig& config, VirtualClock& clock)
    : config_(config), clock_(clock), array_(config.size, 0xFF),
      statusReg_(config.status & kWritableStatusBits) {}

std::uint8_t SpiFlash::status() const {
    std::uint8_t s = statusReg_;
    if (wel_) s |= kWel;
    if (busy() || stuckBusy_) s |= kWip;
    return s;
}

bool SpiFlash::isProtected(std::uint32_t address) const {
    // Block protection of small parts: BP0 alone guards the upper quarter, BP1 alone the upper half, both
    // (or BP2) the whole array.
    const int bp = (statusReg_ & kBpMask) >> 2;
    if (bp == 0) return false;
    const std::uint32_t size = static_cast<std::uint32_t>(array_.size());
    std::uint32_t guarded = size;
    if (bp == 1) guarded = size / 4;
    if (bp == 2) guarded = size / 2;
    return address % size >= size - guarded;
}

void SpiFlash::select() {
    selected_ = true;
    command_.clear();
}

std::vector<std::uint8_t> SpiFlash::idAnswer(std::uint8_t opcode) const {
    if (auto it = config_.idAnswers.find(opcode); it != config_.idAnswers.end()) return it->second;
    if (opcode != kOpReadId && opcode != kOpReadManufacturerId && opcode != kOpReleasePowerDownId) return {};
    std::vector<std::uint8_t> answer(static_cast<std::size_t>(config_.continuationBytes), 0x7F);
    answer.insert(answer.end(), {config_.manufacturer, config_.id1, config_.id2});
    return answer;
}

std::uint32_t SpiFlash::commandAddress() const {
    return (std::uint32_t{command_[1]} << 16) | (std::uint32_t{command_[2]} << 8) | command_[3];
}

std::uint8_t SpiFlash::transfer(std::uint8_t mosi) {
    if (!selected_) return 0xFF;
    command_.push_back(mosi);
    const std::size_t k = command_.size() - 1; // index of this byte within the command
    if (k == 0) return 0xFF;
    const std::uint8_t opcode = command_[0];
    if (opcode == kOpReadStatus) return status();
    if (busy() || stuckBusy_) return 0xFF;
    const std::uint32_t size = static_cast<std::uint32_t>(array_.size());
    switch (opcode) {
    case kOpRead:
    case kOpFastRead: {
        const std::size_t dataStart = opcode == kOpRead ? 4 : 5;
        if (k < dataStart) return 0xFF;
        if (k == dataStart) readAddress_ = commandAddress();
        return array_[readAddress_++ % size];
    }
    default: {
        // Identification commands; 0x90 and 0xAB answer after three dummy address bytes.
        const std::vector<std::uint8_t> answer = idAnswer(opcode);
        const std::size_t skip = (opcode == kOpReadManufacturerId || opcode == kOpReleasePowerDownId) ? 3 : 0;
        if (k <= skip) return 0xFF;
        const std::size_t index = k - 1 - skip;
        return index < answer.size() ? answer[index] : 0xFF;
    }
    }
}

void SpiFlash::deselect() {
    if (!selected_) return;
    selected_ = false;
    if (!command_.empty() && !busy() && !stuckBusy_) executeAtDeselect();
    command_.clear();
}

void SpiFlash::startBusy(std::uint64_t us) {
    busyUntilUs_ = clock_.nowUs() + us;
}

void SpiFlash::executeAtDeselect() {
    const std::uint8_t opcode = command_[0];
    const std::uint32_t size = static_cast<std::uint32_t>(array_.size());
    switch (opcode) {
    case kOpWriteEnable:
        wel_ = true;
        break;
    case kOpWriteDisable:
        wel_ = false;
        break;
    case kOpEnableWriteStatus:
        ewsr_ = true;
        break;
    case kOpWriteStatus: {
        const bool enabled = wel_ || ewsr_;
        ewsr_ = false;
        if (command_.size() < 2 || !enabled) break;
        // With SRWD set and WP# held low the status register is read-only.
        if ((statusReg_ & kSrwd) && !wpHigh_) break;
        statusReg_ = command_[1] & kWritableStatusBits;
        wel_ = false;
        startBusy(config_.timings.writeStatusUs);
        break;
    }
    case kOpChipErase:
    case kOpChipEraseAlt:
        if (!wel_ || command_.size() != 1) break;
        if (statusReg_ & kBpMask) break; // refused while any block is protected
        std::fill(array_.begin(), array_.end(), 0xFF);
        ++erases_;
        wel_ = false;
        startBusy(std::uint64_t{config_.timings.chipEraseUsPer128K} * std::max<std::uint32_t>(size, 0x20000) /
                  0x20000);
        break;
    case kOpSectorErase:
    case kOpSectorEraseAlt:
    case kOpBlockErase: {
        if (!wel_ || command_.size() != 4) break;
        const std::uint32_t unit = opcode == kOpBlockErase ? 0x10000 : kSectorSize;
        const std::uint32_t start = (commandAddress() % size) / unit * unit;
        wel_ = false;
        if (isProtected(start)) break;
        std::fill(array_.begin() + start, array_.begin() + std::min(start + unit, size), 0xFF);
        ++erases_;
        startBusy(opcode == kOpBlockErase ? config_.timings.blockEraseUs : config_.timings.sectorEraseUs);
        break;
    }
    case kOpPageProgram: {
        if (!wel_ || command_.size() < 5) break;
        const std::uint32_t address = commandAddress() % size;
        wel_ = false;
        if (isProtected(address)) break;
        // Data wraps within the 256-byte page, and programming can only clear bits.
        const std::uint32_t page = address / kPageSize * kPageSize;
        std::uint32_t offset = address % kPageSize;
        for (std::size_t i = 4; i < command_.size(); ++i) {
            array_[page + offset] &= command_[i];
            offset = (offset + 1) % kPageSize;
        }
        startBusy(config_.timings.pageProgramUs);
        break;
    }
    default:
        break;
    }
}

} // namespace camsim
