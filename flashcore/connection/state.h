// flashcore's process-wide state, in one place: the 24 device slots, the connection last opened, the
// configuration flags callers set before an open, and the library lock. Created at load, released at unload.
#pragma once

#include "flashcore/connection/register_map.h"
#include "flashcore/connection/usb_descriptors.h"
#include "platform/capture.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace flashcore {

inline constexpr int kSlotCount = 24;
inline constexpr std::intptr_t kNoGateHandle = -1;

// The filter-driver record of a slot.
struct GateEntry {
    std::intptr_t handle = kNoGateHandle;
    char name[260] = {};
    char path[260] = {};
};

struct SlotState {
    bool opened = false;
    int chipFamily = 0;
    GateEntry gate;
};

// The operation entries of the transport that carries register access and memory transfers.
struct TransportTable {
    bool (*writeRegister)(int slot, std::uint16_t reg, std::uint8_t value) = nullptr;
    bool (*readRegister)(int slot, std::uint16_t reg, std::uint8_t* value) = nullptr;
    bool (*memoryRequest)(int slot, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                          std::uint32_t length, std::uint32_t chunk) = nullptr;
    // The 3-byte memory information record: sector table address (little-endian), memory type.
    bool (*readMemoryInfo)(int slot, std::uint8_t* record) = nullptr;
    bool (*setDuplication)(int slot, std::uint8_t a, std::uint16_t b) = nullptr;
    bool (*closeTransport)(int slot) = nullptr;
    const char* (*devicePathOf)(int slot) = nullptr;
    bool (*i2cWrite)(int slot, const std::uint8_t* request) = nullptr;
    bool (*i2cRead)(int slot, std::uint8_t* request) = nullptr;
};

// The extension-unit channel: one per process, replaced by every search.
struct XuChannel {
    std::unique_ptr<platform::CaptureFilter> filter;
    std::uint32_t nodeId = 0;
    std::string devicePath; // 8-bit text, at most 259 characters
};

// Result of the last flash identification probe.
struct FlashIdBytes {
    std::uint8_t manufacturer = 0;
    std::uint8_t id1 = 0;
    std::uint8_t id2 = 0;
    int row = 0;
    int commandSet = 0;
    int typeCode = 0;
};

struct ConnectionContext {
    TransportTable transport;
    const RegisterMap* registerMap = &kRegisterMapA;
    XuChannel xu;
    std::uint32_t chunkSize = 8;
    int flashTypeCode = 0;
    bool powerUpDone = false;
    bool sensorViaProperty = false;
    bool protectLatched = false;
    std::uint8_t savedProtectValue = 0;
    std::uint16_t currentBank = 0;
    bool otpModeConfirmed = false;
    FlashIdBytes flashId;
    // The camera's USB descriptors as the hub driver reported them at open; cleared at close.
    DeviceDescriptorRecord deviceDescriptors;
    // Polled by other threads while a transfer runs; written with single stores.
    std::atomic<int> progress{0};
    std::atomic<int> burnPercent{0};
};

inline constexpr int kXuModeBlocks = 3;
inline constexpr int kXuModeEightByte = 2;

struct ConfigFlags {
    bool useFilterDriver = true;
    bool zetaBurner = false;
    bool needFilterId = false;
    const std::uint8_t* filterImage = nullptr;
    std::uint32_t filterImageLength = 0;
    bool needOtpCheck = false;
    int xuMode = kXuModeEightByte;
};

struct LibraryState {
    std::array<SlotState, kSlotCount> slots;
    ConnectionContext ctx;
    ConfigFlags flags;
    // Per slot: the flash writer's write-enable and program opcodes (map entries 10 and 11) as the last
    // unprotect found them; the next protect writes them back.
    std::array<std::array<std::uint8_t, 2>, kSlotCount> savedOpcodes{};
    std::mutex lock; // held around the by-index filter-driver open only
};

LibraryState& state();

inline bool validSlot(int slot) {
    return slot >= 0 && slot < kSlotCount;
}
inline bool slotOpen(int slot) {
    return validSlot(slot) && state().slots[static_cast<std::size_t>(slot)].opened;
}
inline SlotState& slotState(int slot) {
    return state().slots[static_cast<std::size_t>(slot)];
}
inline std::uint16_t mapRegister(int entry) {
    return (*state().ctx.registerMap)[static_cast<std::size_t>(entry)];
}

// The slot is XU6-capable: block mode permitted and the slot's family 11 or 13.
bool xu6Capable(int slot);

} // namespace flashcore
