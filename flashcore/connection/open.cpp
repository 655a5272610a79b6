#include "flashcore/connection/open.h"

#include "flashcore/connection/chip_table.h"
#include "flashcore/connection/filter_transport.h"
#include "flashcore/connection/register_access.h"
#include "flashcore/connection/state.h"
#include "flashcore/connection/xu_transport.h"
#include "flashcore/flash/serial_flash.h"
#include "platform/host.h"

namespace flashcore {

namespace {

constexpr int kMinimumPowerUpWaitMs = 1500;
constexpr std::uint16_t kSensorModeRegister = 0x80F0;
constexpr std::uint16_t kProtectStrapRegister = 0x03EA;
constexpr std::uint16_t kProtectValueRegister = 0x0DDB;
constexpr std::uint16_t kProtectStateRegister = 0x8200;

// Any nonzero wait below the minimum, negative values included, is raised to the minimum.
std::uint32_t powerUpWaitMs(int waitMs) {
    return static_cast<std::uint32_t>(waitMs != 0 && waitMs < kMinimumPowerUpWaitMs ? kMinimumPowerUpWaitMs
                                                                                    : waitMs);
}

// Families 11 and 13 enable their serial-flash interface instead of waiting for power-up.
bool enablesOwnInterface(int family) {
    return family == 11 || family == 13;
}

// The filter driver has opened: select bank 0 (the bank switching arrives with the filter-driver transport).
void selectBankZero() {
    state().ctx.currentBank = 0;
}

// The common tail of every open. `blockMode`: the slot is XU6-capable; `filter`: the filter driver opened.
int finishOpen(int slot, int waitMs, bool blockMode, bool filter, bool skipProtectCheck) {
    ConnectionContext& ctx = state().ctx;
    SlotState& record = slotState(slot);
    const int family = record.chipFamily;

    record.opened = true;
    ctx.powerUpDone = false;
    if (!enablesOwnInterface(family)) {
        platform::host().sleep(powerUpWaitMs(waitMs));
        ctx.powerUpDone = true;
    }

    // The filter-driver transport arrives with usbgate's device access; no filter-driver open succeeds yet.
    xu::installTransport(blockMode);

    std::uint8_t value = 0;
    if (!readRegister(slot, kMapSelectRegister, &value)) return 0;
    ctx.registerMap = value == kMapBMarker ? &kRegisterMapB : &kRegisterMapA;
    ctx.sensorViaProperty = false;
    if (value == kMapBMarker) {
        if (!readRegister(slot, kSensorModeRegister, &value)) return 0;
        ctx.sensorViaProperty = value == 0x88;
    }

    ctx.protectLatched = false;
    if (family == 13) {
        if (!readRegister(slot, kProtectStrapRegister, &value)) return 0;
        if (value & 0x02) {
            if (!readRegister(slot, kProtectValueRegister, &ctx.savedProtectValue)) return 0;
            if (ctx.savedProtectValue != 0 && !skipProtectCheck) {
                if (!readRegister(slot, kProtectStateRegister, &value)) return 0;
                ctx.protectLatched = (ctx.savedProtectValue & value) == 0;
            }
        }
        writeRegister(slot, kProtectValueRegister, 0);
    }

    ctx.flashTypeCode = getFlashType(0);
    if (ctx.flashTypeCode == -1) return 0;

    const FlashIdBytes& id = ctx.flashId;
    ctx.chunkSize =
        !blockMode && !filter ? 8 : (filter && id.manufacturer == 0xC2 && id.id1 == 0x22 ? 32 : 64);

    // OTP preparation (family 10) arrives with its own part of the library.

    // The USB descriptors from the hub driver; whether the camera was found there does not affect the open.
    fillDeviceDescriptors(ctx.deviceDescriptors, ctx.xu.devicePath);
    return blockMode ? 3 : filter ? 1 : 2;
}

} // namespace

int openByIndex(int slot, int waitMs, bool skipProtectCheck) {
    if (!validSlot(slot)) return 0;
    LibraryState& s = state();
    s.ctx.otpModeConfirmed = false;
    xu::installTransport(false);
    switch (xu::searchByIndex(slot)) {
    case xu::SearchResult::EnumeratorUnavailable:
        return -1;
    case xu::SearchResult::NoDevice:
        return -2;
    case xu::SearchResult::ErrorWithDeviceKept:
        return 0;
    case xu::SearchResult::Success:
        break;
    }
    const bool blockMode = xu6Capable(slot);
    bool filter = false;
    if (!blockMode && s.flags.useFilterDriver) {
        const int requested = slot;
        {
            std::lock_guard<std::mutex> hold(s.lock);
            filter = gate::openByIndex(slot);
        }
        if (filter) {
            // The device may have been opened in another gate entry: its slot carries the family on.
            slotState(slot).chipFamily = slotState(requested).chipFamily;
            selectBankZero();
        } else if (s.flags.zetaBurner) {
            return 0;
        }
    }
    return finishOpen(slot, waitMs, blockMode, filter, skipProtectCheck);
}

namespace {

int openByPathWith(std::u16string_view path, int compareLength, int waitMs, bool skipProtectCheck,
                   bool (*openFilter)(std::u16string_view, const USBDeviceInfo*, bool),
                   const USBDeviceInfo* record, bool useRecord) {
    LibraryState& s = state();
    s.ctx.otpModeConfirmed = false;
    if (!xu::searchByPath(path, compareLength)) return -1;
    const bool blockMode = xu6Capable(0);
    bool filter = false;
    if (!blockMode && s.flags.useFilterDriver) {
        filter = openFilter(path, record, useRecord);
        if (filter) {
            selectBankZero();
        } else if (s.flags.zetaBurner) {
            return 0;
        }
    }
    return finishOpen(0, waitMs, blockMode, filter, skipProtectCheck);
}

} // namespace

int openByPath(std::u16string_view path, int compareLength, int waitMs, bool skipProtectCheck) {
    return openByPathWith(
        path, compareLength, waitMs, skipProtectCheck,
        [](std::u16string_view p, const USBDeviceInfo*, bool) { return gate::openByPath(p); }, nullptr,
        false);
}

int openMulti(std::u16string_view path, int compareLength, const USBDeviceInfo* record, bool useRecord,
              int waitMs, bool skipProtectCheck) {
    return openByPathWith(
        path, compareLength, waitMs, skipProtectCheck,
        [](std::u16string_view, const USBDeviceInfo* r, bool use) { return use && gate::openByRecord(r); },
        record, useRecord);
}

bool closeSlot(int slot) {
    if (!slotOpen(slot)) return false;
    ConnectionContext& ctx = state().ctx;
    SlotState& record = slotState(slot);
    if (record.chipFamily == 13) writeRegister(slot, kProtectValueRegister, ctx.savedProtectValue);
    record.opened = false;
    // The OTP state is released here once it exists.
    clearDeviceDescriptors(ctx.deviceDescriptors);
    // The extension-unit channel is released whichever transport carried the traffic; the slot's gate entry
    // holds a handle only when the filter driver did.
    xu::close(slot);
    return gate::closeEntry(slot);
}

bool getBypassLength(int slot, std::uint32_t* length) {
    if (!slotOpen(slot) || !length) return false;
    *length = ChipTable[static_cast<std::size_t>(slotState(slot).chipFamily)].bypassLength;
    return true;
}

bool isNewSensorTable(int slot) {
    return validSlot(slot) && slotState(slot).chipFamily != 0;
}

bool isFilterDriverOk() {
    int slot = 0;
    bool opened = false;
    {
        std::lock_guard<std::mutex> hold(state().lock);
        opened = gate::openByIndex(slot);
    }
    if (opened) gate::closeEntry(slot);
    return opened;
}

} // namespace flashcore
