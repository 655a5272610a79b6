#include "flashcore/flash/write_protect.h"

#include "flashcore/connection/register_access.h"
#include "flashcore/connection/state.h"
#include "flashcore/flash/flash_tables.h"
#include "flashcore/flash/image_format.h"
#include "flashcore/flash/locators.h"
#include "flashcore/flash/serial_flash.h"

#include <array>

namespace flashcore {

namespace {

constexpr std::array<std::uint8_t, 4> kProtectedPattern = {0x34, 0x34, 0x34, 0x34};
constexpr std::array<std::uint8_t, 4> kWritablePattern = {0x12, 0x12, 0xED, 0xED};

enum PinMode { kNoPin = 0, kRefuse = 1, kLowWhileWritable = 2, kHighWhileWritable = 3 };

struct WpSettings {
    int pinMode;
    int permission;
    std::uint8_t pinMask;
};

// Decodes the configuration byte; families 6 and 8 have their pin wiring fixed by the board.
WpSettings decode(std::uint8_t wpConfig, int family) {
    if (family == 6) return {kHighWhileWritable, 2, 0x04};
    if (family == 8) return {kHighWhileWritable, 2, 0xFF};
    return {wpConfig & 0x03, (wpConfig >> 2) & 0x03,
            static_cast<std::uint8_t>(1u << ((wpConfig >> 4) & 0x07))};
}

bool writeEntry(int slot, int entry, std::uint8_t value) {
    return writeRegister(slot, mapRegister(entry), value);
}

bool writePermission(int slot, const std::array<std::uint8_t, 4>& pattern) {
    for (int i = 0; i < 4; ++i)
        if (!writeEntry(slot, kPermission0Entry + i, pattern[static_cast<std::size_t>(i)])) return false;
    return true;
}

bool frame(int slot, std::uint8_t opcode) {
    return sfSelect(slot) && sfSendByte(slot, opcode) && sfRelease(slot);
}

// Writes the flash status register: write enable, (for type 3 the status-write enable 0x50), 0x01 value.
bool writeFlashStatus(int slot, std::uint8_t value) {
    if (!sfManualMode(slot, true) || !frame(slot, 0x06) || !sfReadStatus(slot)) return false;
    if (state().ctx.flashTypeCode == 3 && !frame(slot, 0x50)) return false;
    return sfSelect(slot) && sfSendByte(slot, 0x01) && sfSendByte(slot, value) && sfRelease(slot) &&
           sfReadStatus(slot) && sfManualMode(slot, false);
}

bool protect(int slot, const WpSettings& wp, std::uint16_t gpioRegister) {
    const auto& saved = state().savedOpcodes[static_cast<std::size_t>(slot)];
    if (!writeEntry(slot, kWriteEnableOpcodeEntry, saved[0]) ||
        !writeEntry(slot, kProgramOpcodeEntry, saved[1]))
        return false;
    if (!writePermission(slot, kProtectedPattern) || !writeFlashStatus(slot, kProtectedStatus)) return false;
    if (wp.pinMode == kNoPin) return true;
    if (wp.pinMode == kRefuse) return false;
    std::uint8_t level = 0;
    if (!readRegister(slot, gpioRegister, &level)) return false;
    level = wp.pinMode == kLowWhileWritable ? level | wp.pinMask : level & ~wp.pinMask;
    return writeRegister(slot, gpioRegister, level);
}

bool unprotect(int slot, const WpSettings& wp, std::uint16_t& gpioRegister) {
    auto& saved = state().savedOpcodes[static_cast<std::size_t>(slot)];
    if (!readRegister(slot, mapRegister(kWriteEnableOpcodeEntry), &saved[0]) ||
        !readRegister(slot, mapRegister(kProgramOpcodeEntry), &saved[1]))
        return false;
    if (wp.permission != 2) return false;
    const FlashCommandSet& set = FlashCommandSets[static_cast<std::size_t>(state().ctx.flashId.commandSet)];
    if (!writeEntry(slot, kWriteEnableOpcodeEntry, set.writeEnable) ||
        !writeEntry(slot, kProgramOpcodeEntry, set.program))
        return false;
    if (!writePermission(slot, kWritablePattern)) return false;
    if (wp.pinMode == kNoPin) return true;
    if (wp.pinMode == kRefuse) return false;
    std::uint8_t enable = 0, level = 0;
    if (!readRegister(slot, mapRegister(kGpioEnableEntry), &enable) ||
        !readRegister(slot, mapRegister(kGpioOutEntry), &level))
        return false;
    if (!writeEntry(slot, kGpioEnableEntry, enable | wp.pinMask)) return false;
    level = wp.pinMode == kLowWhileWritable ? level & ~wp.pinMask : level | wp.pinMask;
    if (!writeEntry(slot, kGpioOutEntry, level)) return false;
    if (slotState(slot).chipFamily == 6 && slot == 0) {
        for (std::uint16_t reg : {std::uint16_t{0x17C1}, std::uint16_t{0x17C2}}) {
            std::uint8_t value = 0;
            readRegister(slot, reg, &value);
            writeRegister(slot, reg, value | 0x01);
        }
    }
    gpioRegister = mapRegister(kGpioOutEntry);
    return writeFlashStatus(slot, kUnprotectedStatus);
}

} // namespace

bool setWriteProtect(int slot, bool on, std::uint16_t& gpioRegister, std::uint8_t wpConfig,
                     std::uint32_t* protectedOut) {
    if (!slotOpen(slot)) return false;
    if (protectedOut && state().ctx.protectLatched) {
        *protectedOut = 1;
        return false;
    }
    const WpSettings wp = decode(wpConfig, slotState(slot).chipFamily);
    return on ? protect(slot, wp, gpioRegister) : unprotect(slot, wp, gpioRegister);
}

bool wpConfigAddressOfImage(const std::uint8_t* image, std::uint32_t length, std::uint32_t& address) {
    ParaTableLocation location;
    if (!locateImageParaTable(image, length, location)) return false;
    address = location.start + kWpConfigOffset;
    return true;
}

bool wpConfigAddressOfDevice(std::uint32_t& address) {
    ParaTableLocation location;
    if (!locateDeviceParaTable(location)) return false;
    address = location.start + kWpConfigOffset;
    return true;
}

} // namespace flashcore
