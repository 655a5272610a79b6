#include "flashcore/flash/image_format.h"

#include "flashcore/connection/chip_table.h"
#include "flashcore/connection/chunked_transfer.h"
#include "flashcore/connection/register_access.h"
#include "flashcore/connection/state.h"
#include "flashcore/connection/xu_transport.h"

#include <array>
#include <cstring>
#include <string>

namespace flashcore {

namespace {

constexpr int kFamilyT420M = 2;
constexpr int kFamilyT425M = 3;
constexpr int kFamilyT440M = 4;
constexpr int kFamilyT445M = 5;

// Bit 4 of 0x100A keeps the chip id out of register 0x101F; the id is read with it cleared.
constexpr std::uint16_t kChipIdControlRegister = 0x100A;
constexpr std::uint8_t kChipIdHidden = 0x10;
constexpr std::uint16_t kChipIdRegister = kMapSelectRegister;
constexpr std::uint8_t kChipIdT420M = 0x70;
constexpr std::uint8_t kChipIdT440M = 0x80;

// The GPIO input register reads the level of each pin; the board straps the pins of bits 3 and 4.
constexpr std::uint16_t kGpioInputRegister = 0x1005;
constexpr std::uint8_t kStrapPin3 = 0x08;
constexpr std::uint8_t kStrapPin4 = 0x10;

// Positions in the model code of the signature.
constexpr std::size_t kModelDigit = 3;
constexpr std::size_t kModelSuffix = 4;

// The refinements do not test their register accesses: a failed read gives 0.
std::uint8_t readOrZero(int slot, std::uint16_t reg) {
    std::uint8_t value = 0;
    readRegister(slot, reg, &value);
    return value;
}

std::uint8_t readChipId(int slot) {
    const std::uint8_t control = readOrZero(slot, kChipIdControlRegister);
    writeRegister(slot, kChipIdControlRegister, static_cast<std::uint8_t>(control & ~kChipIdHidden));
    const std::uint8_t id = readOrZero(slot, kChipIdRegister);
    writeRegister(slot, kChipIdControlRegister, control);
    return id;
}

struct StrapReading {
    std::uint8_t output; // the GPIO output register before the test
    bool high;
};

// Makes the strapped pin an input with its output bit set and reads its level.
StrapReading readStrap(int slot, std::uint8_t pin) {
    const std::uint16_t enableRegister = mapRegister(kGpioEnableEntry);
    const std::uint16_t outputRegister = mapRegister(kGpioOutEntry);
    const std::uint8_t enable = readOrZero(slot, enableRegister);
    const std::uint8_t output = readOrZero(slot, outputRegister);
    writeRegister(slot, enableRegister, static_cast<std::uint8_t>(enable & ~pin));
    writeRegister(slot, outputRegister, static_cast<std::uint8_t>(output | pin));
    return {output, (readOrZero(slot, kGpioInputRegister) & pin) != 0};
}

void clearOutputBit(int slot, std::uint8_t output, std::uint8_t pin) {
    writeRegister(slot, mapRegister(kGpioOutEntry), static_cast<std::uint8_t>(output & ~pin));
}

void refineT425M(int slot, std::uint8_t* signature) {
    int& family = slotState(slot).chipFamily;
    if (readChipId(slot) == kChipIdT420M) {
        signature[kModelDigit] = '0';
        family = kFamilyT420M;
    }
    const StrapReading pin3 = readStrap(slot, kStrapPin3);
    if (pin3.high) {
        clearOutputBit(slot, pin3.output, kStrapPin3);
        signature[kModelSuffix] = '1';
        return;
    }
    const StrapReading pin4 = readStrap(slot, kStrapPin4);
    if (pin4.high) {
        signature[kModelSuffix] = '0';
    } else if (family == kFamilyT420M) {
        clearOutputBit(slot, pin4.output, kStrapPin4);
        signature[kModelSuffix] = '2';
    }
}

void refineT445M(int slot, std::uint8_t* signature) {
    if (readChipId(slot) == kChipIdT440M) {
        signature[kModelDigit] = '0';
        slotState(slot).chipFamily = kFamilyT440M;
    }
    const StrapReading pin3 = readStrap(slot, kStrapPin3);
    if (pin3.high) clearOutputBit(slot, pin3.output, kStrapPin3);
    signature[kModelSuffix] = pin3.high ? '1' : '0';
}

bool modelIs(const ChipRow& row, const char* model4) {
    return std::memcmp(row.signature.data(), model4, 4) == 0;
}

// Version block of a long-layout image: 24 bytes, the version text in bytes 12 to 23.
constexpr std::uint32_t kChipNameLength = 8;
constexpr std::size_t kVersionBlockLength = 24;
constexpr std::size_t kVersionTextStart = 12;
// Other layouts: the version bytes read behind the chip name, from the name's eighth byte on.
constexpr std::uint32_t kVersionBytesLength = 16;
constexpr std::uint32_t kVersionBytesPosition = 7;
constexpr std::uint16_t kVersionPageOffset = 6;

bool longLayoutCodeVersion(int slot, const ChipRow& row, std::uint8_t* text) {
    std::array<std::uint8_t, kVersionBlockLength> block{};
    if (!reqToDriver(slot, kCmdReadFlash, row.nameOffset, text, kChipNameLength) ||
        !reqToDriver(slot, kCmdReadFlash, row.versionOffset, block.data(), kVersionBlockLength))
        return false;
    std::string version = "No Firmware Version";
    if (text[0] == 'Q' && text[1] == 'L') {
        version = modelIs(row, "T415") ? "" : "QUELT_ISP_";
        for (std::size_t i = kVersionTextStart; i < block.size() && block[i] != 0; ++i)
            version.push_back(static_cast<char>(block[i]));
    }
    // At most 10 + 12 characters and the terminator: within the caller's 24 bytes.
    std::memcpy(text, version.c_str(), version.size() + 1);
    return true;
}

} // namespace

bool getRomVersion(int slot, std::uint8_t* signature) {
    if (!slotOpen(slot) || !signature) return false;
    if (!xu::probeChip(slot, state().ctx.transport.memoryRequest, signature)) return false;
    const int family = slotState(slot).chipFamily;
    if (family == kFamilyT425M) {
        refineT425M(slot, signature);
    } else if (family == kFamilyT445M) {
        refineT445M(slot, signature);
    }
    return true;
}

bool getCodeVersion(int slot, std::uint8_t* text) {
    if (!text || !slotOpen(slot)) return false;
    const ChipRow& row = ChipTable[static_cast<std::size_t>(slotState(slot).chipFamily)];
    if (layoutGroupOf(row.signature.data()) == LayoutGroup::Long)
        return longLayoutCodeVersion(slot, row, text);
    // The image's page is held in the controller's sector table.
    std::uint16_t table = 0;
    std::uint8_t page = 0;
    if (!getSectorTableAddr(slot, &table) ||
        !readRegister(slot, static_cast<std::uint16_t>(table + kVersionPageOffset), &page))
        return false;
    const std::uint32_t base = std::uint32_t{page} << 8;
    if (modelIs(row, "T410"))
        return reqToDriver(slot, kCmdReadFlash, base + row.versionOffset, text, kVersionBytesLength);
    return reqToDriver(slot, kCmdReadFlash, base + row.nameOffset, text, kChipNameLength) &&
           reqToDriver(slot, kCmdReadFlash, base + row.versionOffset, text + kVersionBytesPosition,
                       kVersionBytesLength);
}

bool locateImageParaTable(const std::uint8_t* image, std::uint32_t length, ParaTableLocation& out) {
    std::uint8_t signature[8];
    if (!image || !getRomVersion(0, signature)) return false;
    return locateParaTable(layoutGroupOf(signature), image, length, 0, 0, out);
}

} // namespace flashcore
