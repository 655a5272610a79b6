#include "camsim/camera.h"

#include "flashcore/bytes.h"
#include "flashcore/connection/chip_table.h"
#include "flashcore/flash/flash_tables.h"
#include "flashcore/flash/image_layout.h"
#include "fwconfig.h"
#include "platform/capture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace camsim {

using flashcore::readLe16;
using platform::HResult;

namespace {

// What a transfer to a camera that has gone away, or whose transfer failed, reports.
constexpr HResult kDeviceNotFunctioning = static_cast<HResult>(0x8007001Fu);
constexpr HResult kInvalidArgument = static_cast<HResult>(0x80070057u);

constexpr std::uint16_t kFlashTypeRegister = 0x05F0;
constexpr std::uint16_t kGpioInputRegister = 0x1005;
// Bit 4 of this register hides the chip id: register 0x101F then reads 0x00 on map A chips.
constexpr std::uint16_t kChipIdControlRegister = 0x100A;
constexpr std::uint8_t kChipIdHidden = 0x10;
constexpr std::array<std::uint8_t, 4> kWritablePattern = {0x12, 0x12, 0xED, 0xED};

std::string slotText(const std::uint8_t* slot) {
    std::string text;
    return flashcore::decodeStringSlot(slot, flashcore::SlotFormat::Descriptor, text) ? text : std::string();
}

} // namespace

std::uint64_t Counters::propertyCalls() const {
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < propertySets.size(); ++i)
        total += propertySets[i] + propertyGets[i];
    return total;
}

Camera::Camera(const CameraConfig& config, VirtualClock& clock)
    : config_(config), clock_(clock),
      map_(config.registerMap == 'B' ? &flashcore::kRegisterMapB : &flashcore::kRegisterMapA),
      rom_(0x10000, 0x00), regs_(0x10000, 0x00), flash_(config.flash, clock) {
    const int family = std::clamp(config.family, 0, flashcore::kChipFamilyCount - 1);
    const flashcore::ChipRow& row = flashcore::ChipTable[static_cast<std::size_t>(family)];
    signature_ = row.signature;
    std::copy(signature_.begin(), signature_.end(), rom_.begin() + row.romAddress);
    auto& contents = flash_.contents();
    std::copy_n(config.firmware.begin(), std::min(config.firmware.size(), contents.size()), contents.begin());
    reset();
}

std::u16string Camera::devicePath() const {
    char text[160];
    std::string chain;
    for (int port : config_.ports)
        chain += std::to_string(port) + ".";
    std::snprintf(text, sizeof text,
                  "\\\\?\\usb#vid_%04x&pid_%04x&mi_00#7&%s0#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global",
                  identity_.vendorId, identity_.productId, chain.c_str());
    return std::u16string(text, text + std::strlen(text));
}

std::vector<platform::Guid> Camera::topologyNodeTypes() const {
    // Camera terminal, processing unit, the extension unit and the output terminal.
    const platform::Guid other = platform::guidOf("DFF229E1-F70F-11D0-B917-00A0C9223196");
    std::vector<platform::Guid> nodes(std::max<std::uint32_t>(config_.extensionUnitNode + 2, 4), other);
    if (config_.devSpecificNode) nodes[config_.extensionUnitNode] = platform::kNodeTypeDevSpecific;
    return nodes;
}

void Camera::loadPowerOnRegisters() {
    std::fill(regs_.begin(), regs_.end(), 0x00);
    regs_[mapRegister(flashcore::kSfReadyEntry)] = 1;
    regs_[mapRegister(flashcore::kSfChipSelectEntry)] = 1;
    regs_[mapRegister(flashcore::kWriteEnableOpcodeEntry)] = 0x06;
    regs_[mapRegister(flashcore::kProgramOpcodeEntry)] = 0x02;
    for (int i = 0; i < 4; ++i)
        regs_[mapRegister(flashcore::kPermission0Entry + i)] = 0x34;
    const auto& f = flash_.config();
    regs_[kFlashTypeRegister] = flashcore::FlashIdTable[static_cast<std::size_t>(flashcore::lookupFlashId(
                                                            f.manufacturer, f.id1, f.id2))]
                                    .typeCode;
    for (const auto& [reg, value] : config_.registers)
        regs_[reg] = value;
}

void Camera::reset() {
    loadPowerOnRegisters();
    updateWriteProtectPin();
    block_ = {};
    latchedRegister_ = 0;
    readPointer_ = 0;

    identity_ = {};
    identity_.vendorId = FWT_MAKER_VENDOR_ID;
    identity_.productId = 0x6362;
    const auto& image = flash_.contents();
    if (image.size() < 0x164 || std::memcmp(image.data() + flashcore::kPresenceMarkerOffset, "tSec", 4) != 0)
        return;
    flashcore::ParaTableLocation loc;
    const auto group = flashcore::layoutGroupOf(signature_.data());
    if (!flashcore::locateParaTable(group, image.data(), image.size(), 0, 0x8800, loc)) return;
    if (loc.start + flashcore::kInterfaceStringOffset + flashcore::kStringSlotSize > image.size()) return;
    const std::uint8_t* table = image.data() + loc.start;
    identity_.vendorId = flashcore::readBe16(table + flashcore::kVendorIdOffset);
    identity_.productId = flashcore::readBe16(table + flashcore::kProductIdOffset);
    identity_.deviceRelease = flashcore::readBe16(table + flashcore::kDeviceReleaseOffset);
    const std::uint32_t slots[4] = {flashcore::kProductStringOffset, flashcore::kManufacturerStringOffset,
                                    flashcore::kSerialStringOffset, flashcore::kInterfaceStringOffset};
    for (int i = 0; i < 4; ++i)
        identity_.strings[static_cast<std::size_t>(i)] = slotText(table + slots[i]);
}

bool Camera::transferFails() {
    const std::uint64_t n = ++counters_.transfers;
    clock_.advanceUs(config_.busTimeUs);
    if (faults_.unplugAtTransfer != 0 && n == faults_.unplugAtTransfer) plugged_ = false;
    const bool fails = !plugged_ || n == faults_.failTransfer ||
                       (faults_.failAfterTransfer != 0 && n > faults_.failAfterTransfer);
    if (fails) {
        ++counters_.failedTransfers;
        // A failed control transfer aborts the block transfer in progress; the next set starts anew.
        block_.active = false;
    }
    return fails;
}

HResult Camera::property(std::uint32_t id, bool set, std::uint32_t node, std::uint8_t* data,
                         std::uint32_t length, std::uint32_t& returned) {
    returned = 0;
    if (!plugged_) return kDeviceNotFunctioning;
    if (node != config_.extensionUnitNode) return platform::kNotFound;
    if (id < counters_.propertySets.size()) ++(set ? counters_.propertySets : counters_.propertyGets)[id];
    if (transferFails()) return kDeviceNotFunctioning;
    const HResult hr = set ? handleSet(id, data, length) : handleGet(id, data, length);
    if (hr == platform::kOk) returned = length;
    if (logging_) log_.push_back({id, set, std::vector<std::uint8_t>(data, data + length)});
    return hr;
}

HResult Camera::handleSet(std::uint32_t id, const std::uint8_t* d, std::uint32_t length) {
    switch (id) {
    case 1: { // register write, or the first step of a register read
        if (length < 4) return kInvalidArgument;
        const std::uint16_t reg = readLe16(d);
        if (d[3] == 0xFF) {
            latchedRegister_ = reg;
        } else {
            writeRegister(reg, d[2]);
        }
        return platform::kOk;
    }
    case 3: { // memory write, memory read request or write duplication
        if (length < 12) return kInvalidArgument;
        const std::uint32_t address = readLe16(d) | (std::uint32_t{d[2] & 0x30u} << 12);
        const std::uint8_t count = d[2] & 0x0F;
        if (d[0] == 0 && d[1] == 0 && d[2] == 0x40) {
            std::copy_n(d + 3, 3, duplication_.begin());
        } else if (d[2] & 0x80) {
            readPointer_ = address;
        } else {
            if (count == 0 || count > 8) return kInvalidArgument;
            writeMemory(address, d + 3, count);
        }
        return platform::kOk;
    }
    case 4: // ROM read request
        if (length < 12) return kInvalidArgument;
        romPointer_ = readLe16(d);
        romCount_ = std::min<std::uint8_t>(d[2], 8);
        return platform::kOk;
    case 6: { // XU6 block header or block data
        if (length < 64) return kInvalidArgument;
        if (block_.active && !block_.read) {
            const std::uint32_t n = std::min<std::uint32_t>(block_.size, block_.end - block_.cursor);
            writeMemory(block_.cursor, d, n);
            block_.cursor += n;
            block_.active = block_.cursor < block_.end;
            return platform::kOk;
        }
        if (d[10] != 0x0B || d[11] != 0x01 || (d[4] != 0x80 && d[4] != 0x00) || d[5] == 0 || d[5] > 64)
            return kInvalidArgument;
        block_.read = d[4] == 0x80;
        block_.cursor = flashcore::readLe32(d);
        block_.end = flashcore::readLe32(d + 6);
        block_.size = d[5];
        block_.active = block_.end > block_.cursor;
        return platform::kOk;
    }
    default: // no sensor behind the I2C property yet; memory information is read-only
        return kInvalidArgument;
    }
}

HResult Camera::handleGet(std::uint32_t id, std::uint8_t* d, std::uint32_t length) {
    switch (id) {
    case 1:
        if (length < 4) return kInvalidArgument;
        std::fill_n(d, length, 0);
        d[2] = readRegister(latchedRegister_);
        return platform::kOk;
    case 3:
        if (length < 12) return kInvalidArgument;
        std::fill_n(d, length, 0);
        readMemory(readPointer_, d + 3, 8);
        // The read pointer advances within its 64 KB window: crossing 0x10000 needs a new read request.
        readPointer_ = (readPointer_ & 0x30000) | ((readPointer_ + 8) & 0xFFFF);
        return platform::kOk;
    case 4:
        if (length < 12) return kInvalidArgument;
        std::fill_n(d, length, 0);
        d[2] = romCount_;
        for (std::uint8_t i = 0; i < romCount_; ++i)
            d[3 + i] = rom_[static_cast<std::uint16_t>(romPointer_ + i)];
        return platform::kOk;
    case 5:
        if (length < 3) return kInvalidArgument;
        std::fill_n(d, length, 0);
        flashcore::writeLe16(d, config_.sectorTableAddress);
        d[2] = config_.memoryType;
        return platform::kOk;
    case 6: {
        if (length < 64 || !block_.active || !block_.read) return kInvalidArgument;
        std::fill_n(d, length, 0);
        const std::uint32_t n = std::min<std::uint32_t>(block_.size, block_.end - block_.cursor);
        readMemory(block_.cursor, d, n);
        block_.cursor += n;
        block_.active = block_.cursor < block_.end;
        return platform::kOk;
    }
    default:
        return kInvalidArgument;
    }
}

std::uint8_t Camera::readRegister(std::uint16_t reg) {
    ++counters_.registerReads;
    if (reg == flashcore::kMapSelectRegister) {
        if (config_.registerMap == 'B') return 0xAA;
        return (regs_[kChipIdControlRegister] & kChipIdHidden) != 0 ? 0x00 : config_.chipId;
    }
    if (reg == kGpioInputRegister) return pinLevels();
    return regs_[reg];
}

void Camera::writeRegister(std::uint16_t reg, std::uint8_t value) {
    ++counters_.registerWrites;
    if (reg == flashcore::kMapSelectRegister || reg == kGpioInputRegister) return;
    regs_[reg] = value;
    if (reg == mapRegister(flashcore::kSfChipSelectEntry)) {
        if (value == 0) {
            flash_.select();
        } else {
            flash_.deselect();
        }
    } else if (reg == mapRegister(flashcore::kSfTriggerEntry)) {
        engineTransfer(value);
    } else if (reg == mapRegister(flashcore::kGpioOutEntry) ||
               reg == mapRegister(flashcore::kGpioEnableEntry)) {
        updateWriteProtectPin();
    } else if (reg == mapRegister(flashcore::kResetEntry) && (value & 0x01) == 0) {
        reset();
    }
}

void Camera::engineTransfer(std::uint8_t trigger) {
    // The byte engine only drives the flash while the host holds it in manual mode.
    if (regs_[mapRegister(flashcore::kSfManualModeEntry)] != 1) return;
    if (trigger == 1) {
        flash_.transfer(regs_[mapRegister(flashcore::kSfDataOutEntry)]);
    } else if (trigger == 2) {
        regs_[mapRegister(flashcore::kSfDataInEntry)] = flash_.transfer(0x00);
    }
    regs_[mapRegister(flashcore::kSfReadyEntry)] = 1;
}

// A pin whose enable bit is set drives its output bit; an input pin sits at the board's strap level.
std::uint8_t Camera::pinLevels() const {
    const std::uint8_t enable = regs_[mapRegister(flashcore::kGpioEnableEntry)];
    const std::uint8_t output = regs_[mapRegister(flashcore::kGpioOutEntry)];
    return static_cast<std::uint8_t>((output & enable) | (config_.straps & ~enable));
}

void Camera::updateWriteProtectPin() {
    if (!config_.wpPin) {
        flash_.setWriteProtectInput(true);
        return;
    }
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << (*config_.wpPin & 7));
    bool high = (pinLevels() & mask) != 0;
    if (config_.wpPinInverted) high = !high;
    flash_.setWriteProtectInput(high);
}

bool Camera::writePermitted() const {
    for (int i = 0; i < 4; ++i)
        if (regs_[mapRegister(flashcore::kPermission0Entry + i)] !=
            kWritablePattern[static_cast<std::size_t>(i)])
            return false;
    return true;
}

void Camera::waitFlashReady() {
    clock_.advanceToUs(flash_.busyUntilUs());
}

void Camera::writeMemory(std::uint32_t address, const std::uint8_t* data, std::uint32_t length) {
    counters_.memoryBytesWritten += length;
    if (!writePermitted()) {
        ++counters_.droppedWrites;
        return;
    }
    // The controller's flash writer: write enable and page program with the opcodes of its two opcode
    // registers, one page at a time.
    while (length > 0) {
        const std::uint32_t n = std::min(length, SpiFlash::kPageSize - address % SpiFlash::kPageSize);
        waitFlashReady();
        flash_.select();
        flash_.transfer(regs_[mapRegister(flashcore::kWriteEnableOpcodeEntry)]);
        flash_.deselect();
        flash_.select();
        flash_.transfer(regs_[mapRegister(flashcore::kProgramOpcodeEntry)]);
        flash_.transfer(static_cast<std::uint8_t>(address >> 16));
        flash_.transfer(static_cast<std::uint8_t>(address >> 8));
        flash_.transfer(static_cast<std::uint8_t>(address));
        for (std::uint32_t i = 0; i < n; ++i)
            flash_.transfer(data[i]);
        flash_.deselect();
        address += n;
        data += n;
        length -= n;
    }
}

void Camera::readMemory(std::uint32_t address, std::uint8_t* data, std::uint32_t length) {
    counters_.memoryBytesRead += length;
    waitFlashReady();
    const auto& contents = flash_.contents();
    for (std::uint32_t i = 0; i < length; ++i)
        data[i] = contents[(address + i) % contents.size()];
}

} // namespace camsim
