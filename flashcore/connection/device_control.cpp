#include "flashcore/connection/device_control.h"

#include "flashcore/connection/register_access.h"
#include "flashcore/connection/state.h"
#include "platform/host.h"

#include <array>

namespace flashcore {

namespace {

constexpr std::uint32_t kResetWaitMs = 1000;

// A new CPU-rate value from the current one: (current AND keep) OR set.
struct CpuRateRule {
    std::uint8_t keep;
    std::uint8_t set;
    std::uint8_t apply(std::uint8_t current) const {
        return static_cast<std::uint8_t>((current & keep) | set);
    }
};

struct CpuRateRow {
    int family;
    CpuRateRule raise;
    CpuRateRule lower;
};

constexpr CpuRateRule kSetBit0 = {0xFF, 0x01};

constexpr std::array<CpuRateRow, 6> kCpuRateTable = {{
    {6, {0x00, 0x40}, kSetBit0},
    {7, {0xF1, 0x01}, kSetBit0},
    {8, {0x00, 0x01}, kSetBit0},
    {9, {0xF1, 0x01}, kSetBit0},
    {10, {0xF3, 0x03}, {0xFD, 0x0D}},
    {11, {0xF1, 0x01}, kSetBit0},
}};
// Every family the table does not name.
constexpr CpuRateRow kCpuRateOthers = {-1, {0xFC, 0x00}, kSetBit0};

const CpuRateRow& cpuRateRowOf(int family) {
    for (const CpuRateRow& row : kCpuRateTable)
        if (row.family == family) return row;
    return kCpuRateOthers;
}

} // namespace

int resetDevice(int slot) {
    if (!slotOpen(slot)) return kResetFailed;
    const int family = slotState(slot).chipFamily;
    const std::uint16_t reg = mapRegister(kResetEntry);
    if (family != 6 && family != 8) {
        // The controller restarts on the write and sends no reply, so its result says nothing.
        writeRegister(slot, reg, 0x00);
        return kResetSent;
    }
    std::uint8_t value = 0;
    if (!readRegister(slot, reg, &value)) return kResetFailed;
    writeRegister(slot, reg, value & 0xFE);
    platform::host().sleep(kResetWaitMs);
    return kResetWithWait;
}

bool pullCpuRate(int slot, bool raise) {
    if (!slotOpen(slot)) return false;
    const CpuRateRow& row = cpuRateRowOf(slotState(slot).chipFamily);
    const std::uint16_t reg = mapRegister(kCpuRateEntry);
    // A failed read leaves the current value at 0; a failed write is not reported.
    std::uint8_t current = 0;
    readRegister(slot, reg, &current);
    writeRegister(slot, reg, (raise ? row.raise : row.lower).apply(current));
    return true;
}

bool setCpuRate(int slot, std::uint8_t rate) {
    if (!slotOpen(slot) || rate > 1) return false;
    return writeRegister(slot, mapRegister(kCpuRateEntry), rate == 0 ? 0x81 : 0x01);
}

bool setSerialFlashClock(int slot, std::uint8_t clock) {
    if (!slotOpen(slot) || clock > 3) return false;
    return writeRegister(slot, kFlashClockRegister, clock);
}

} // namespace flashcore
