#include "flashcore/flash/serial_flash.h"

#include "flashcore/connection/chip_table.h"
#include "flashcore/connection/register_access.h"
#include "flashcore/connection/state.h"
#include "flashcore/flash/flash_tables.h"
#include "platform/host.h"

#include <initializer_list>

namespace flashcore {

namespace {

constexpr int kReadyPolls = 1000;
constexpr int kBusyPolls = 10000;
constexpr std::uint8_t kOpReadStatus = 0x05;
constexpr std::uint8_t kOpWriteEnable = 0x06;
constexpr std::uint8_t kOpReadId = 0x9F;
constexpr std::uint16_t kSfInterfaceEnable = 0x0A00;

bool writeEntry(int slot, int entry, std::uint8_t value) {
    return writeRegister(slot, mapRegister(entry), value);
}

// Sends a sequence of bytes; stops at the first failure.
bool sendBytes(int slot, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t b : bytes)
        if (!sfSendByte(slot, b)) return false;
    return true;
}

// A flash command of its own: select, the bytes, release.
bool command(int slot, std::initializer_list<std::uint8_t> bytes) {
    return sfSelect(slot) && sendBytes(slot, bytes) && sfRelease(slot);
}

// Manual mode on, write enable, the command with its bytes, busy wait, manual mode off.
bool eraseCommand(int slot, std::initializer_list<std::uint8_t> bytes) {
    return sfManualMode(slot, true) && command(slot, {kOpWriteEnable}) && command(slot, bytes) &&
           sfReadStatus(slot) && sfManualMode(slot, false);
}

// The latch rule of the erase commands: a latched hardware protection is reported only to callers that ask.
bool latchedFor(std::uint32_t* protectedOut) {
    if (protectedOut && state().ctx.protectLatched) {
        *protectedOut = 1;
        return true;
    }
    return false;
}

struct SizeRow {
    std::uint8_t manufacturer;
    std::uint8_t type;
    std::uint32_t size;
    std::uint32_t sectorSize;
};

constexpr SizeRow kSizeTable[] = {
    {0x1C, 0x31, 0x10000, 0x1000}, {0x1F, 0x65, 0x10000, 0x1000}, {0x20, 0x20, 0x10000, 0x8000},
    {0x37, 0x20, 0x10000, 0x1000}, {0x37, 0x30, 0x10000, 0x1000}, {0x8C, 0x30, 0x10000, 0x1000},
    {0x9D, 0x20, 0x10000, 0x1000}, {0x9D, 0x7B, 0x10000, 0x1000}, {0x9D, 0x2F, 0x8000, 0x1000},
    {0xA1, 0x31, 0x20000, 0x1000}, {0xBF, 0x48, 0x10000, 0x1000}, {0xC2, 0x20, 0x10000, 0x1000},
    {0xC2, 0x22, 0x10000, 0x1000}, {0xC8, 0x40, 0x10000, 0x1000}, {0xEF, 0x30, 0x10000, 0x1000},
};

// One identification step of the probe: the opcode, `dummies` zero bytes, then the id bytes.
void probeStep(std::uint8_t opcode, int dummies, bool threeIdBytes, FlashIdBytes& id) {
    sfManualMode(0, true);
    sfSelect(0);
    sfSendByte(0, opcode);
    for (int i = 0; i < dummies; ++i)
        sfSendByte(0, 0x00);
    sfReceiveByte(0, &id.manufacturer);
    if (id.manufacturer == 0x7F) sfReceiveByte(0, &id.manufacturer);
    sfReceiveByte(0, &id.id1);
    if (threeIdBytes) {
        sfReceiveByte(0, &id.id2);
    } else {
        id.id2 = kAnyId;
    }
    sfRelease(0);
    sfManualMode(0, false);
}

} // namespace

bool sfManualMode(int slot, bool on) {
    return writeEntry(slot, kSfManualModeEntry, on ? 1 : 0);
}
bool sfSelect(int slot) {
    return writeEntry(slot, kSfChipSelectEntry, 0);
}
bool sfRelease(int slot) {
    return writeEntry(slot, kSfChipSelectEntry, 1);
}

bool sfWaitReady(int slot) {
    if (!slotOpen(slot)) return false;
    for (int poll = 0; poll < kReadyPolls; ++poll) {
        std::uint8_t ready = 0;
        if (!readRegister(slot, mapRegister(kSfReadyEntry), &ready)) return false;
        if (ready == 1) return true;
        platform::host().sleep(1);
    }
    return false;
}

bool sfSendByte(int slot, std::uint8_t byte) {
    return writeEntry(slot, kSfDataOutEntry, byte) && writeEntry(slot, kSfTriggerEntry, 1) &&
           sfWaitReady(slot);
}

bool sfReceiveByte(int slot, std::uint8_t* byte) {
    return writeEntry(slot, kSfDataInEntry, 0) && writeEntry(slot, kSfTriggerEntry, 2) && sfWaitReady(slot) &&
           readRegister(slot, mapRegister(kSfDataInEntry), byte);
}

bool ensureSfInterface(int slot) {
    ConnectionContext& ctx = state().ctx;
    if (ctx.powerUpDone) return true;
    const int family = slotState(slot).chipFamily;
    if (family != 11 && family != 13) return true;
    if (!writeRegister(slot, kSfInterfaceEnable, 1)) return false;
    ctx.powerUpDone = true;
    return true;
}

bool sfReadStatus(int slot) {
    if (!slotOpen(slot)) return false;
    for (int poll = 0; poll < kBusyPolls; ++poll) {
        std::uint8_t status = 0;
        if (!sfSelect(slot) || !sfSendByte(slot, kOpReadStatus) || !sfReceiveByte(slot, &status))
            return false;
        if ((status & 0x01) == 0) return sfRelease(slot);
        platform::host().sleep(1);
    }
    return false;
}

bool getSfStatus(int slot, std::uint8_t* status) {
    if (!slotOpen(slot) || !status) return false;
    return sfManualMode(slot, true) && sfSelect(slot) && sfSendByte(slot, kOpReadStatus) &&
           sfReceiveByte(slot, status) && sfManualMode(slot, false);
}

bool getSfSize(int slot, std::uint32_t* size, std::uint32_t* sectorSize) {
    if (!slotOpen(slot) || !size || !sectorSize) return false;
    *size = 0;
    *sectorSize = 0;
    const int type = state().ctx.flashTypeCode;
    std::uint8_t manufacturer = 0, memoryType = 0, capacity = 0;
    if (!sfManualMode(slot, true) || !sfSelect(slot)) return false;
    if (type == 3 || type == 8 ? !sendBytes(slot, {0xAB, 0x00, 0x00, 0x00}) : !sfSendByte(slot, kOpReadId))
        return false;
    if (!sfReceiveByte(slot, &manufacturer) || !sfReceiveByte(slot, &memoryType) ||
        !sfReceiveByte(slot, &capacity) || !sfRelease(slot) || !sfManualMode(slot, false))
        return false;
    if (type == 10 && manufacturer == 0x7F && memoryType == 0x37 && capacity == 0x20) {
        manufacturer = 0x37;
        memoryType = 0x20;
    }
    if (type == 8 && manufacturer != 0x9D) {
        if (!sfManualMode(slot, true) || !sfSelect(slot) || !sfSendByte(slot, kOpReadId) ||
            !sfReceiveByte(slot, &manufacturer) || !sfReceiveByte(slot, &memoryType) || !sfRelease(slot) ||
            !sfManualMode(slot, false))
            return false;
    }
    for (const SizeRow& row : kSizeTable) {
        if (row.manufacturer == manufacturer && row.type == memoryType) {
            *size = row.size;
            *sectorSize = row.sectorSize;
            return true;
        }
    }
    return false;
}

bool eraseSf(int slot, std::uint32_t* protectedOut) {
    if (!slotOpen(slot) || latchedFor(protectedOut) || !ensureSfInterface(slot)) return false;
    return eraseCommand(slot, {chipEraseOpcode(state().ctx.flashTypeCode)});
}

bool sectorEraseSf(int slot, std::uint8_t sector, std::uint32_t* protectedOut) {
    if (!slotOpen(slot) || latchedFor(protectedOut) || !ensureSfInterface(slot)) return false;
    const std::uint8_t opcode = sectorEraseOpcode(state().ctx.flashTypeCode);
    if (opcode == 0) return false;
    const std::uint32_t address = std::uint32_t{sector} * 4096;
    return eraseCommand(slot, {opcode, static_cast<std::uint8_t>(address >> 16),
                               static_cast<std::uint8_t>(address >> 8), 0x00});
}

int probeFlashId() {
    struct Step {
        std::uint8_t opcode;
        int dummies;
        bool threeIdBytes;
    };
    static constexpr Step kSteps[] = {{0x9F, 0, true}, {0x15, 0, false}, {0x90, 3, false}, {0xAB, 3, false}};
    FlashIdBytes& id = state().ctx.flashId;
    for (const Step& step : kSteps) {
        id = {};
        probeStep(step.opcode, step.dummies, step.threeIdBytes, id);
        id.row = lookupFlashId(id.manufacturer, id.id1, id.id2);
        const FlashIdRow& row = FlashIdTable[static_cast<std::size_t>(id.row)];
        id.commandSet = row.commandSet;
        id.typeCode = row.typeCode;
        if (id.typeCode != 0) break;
    }
    return id.typeCode;
}

int getFlashType(int slot) {
    if (!slotOpen(slot)) return -1;
    const int type = probeFlashId();
    if (type != 0) return type;
    std::uint8_t value = 0;
    const ChipRow& row = ChipTable[static_cast<std::size_t>(slotState(slot).chipFamily)];
    return readRegister(slot, row.flashTypeRegister, &value) ? value : 255;
}

bool setFlashType(int slot, int type) {
    if (!slotOpen(slot)) return false;
    if (type != 3 && type != 8) return true;
    auto write = [slot](std::uint16_t reg, std::uint8_t value) { return writeRegister(slot, reg, value); };
    const bool setup = write(0x03C5, static_cast<std::uint8_t>(type)) && sfManualMode(slot, false) &&
                       write(0x1090, 2) && write(0x108C, 0) && write(0x108D, 7) && write(0x108E, 7) &&
                       write(0x108F, 7);
    if (!setup) return false;
    if (type == 3) {
        const bool status = sfManualMode(slot, true) && command(slot, {0x50}) &&
                            command(slot, {0x01, 0x00}) && sfReadStatus(slot) && sfManualMode(slot, false);
        if (!status) return false;
    }
    return write(0x1087, 5) && write(0x1088, 3) && write(0x1092, 1) && write(0x1093, 0);
}

} // namespace flashcore
