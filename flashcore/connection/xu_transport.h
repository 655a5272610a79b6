// The extension-unit transport: the camera's vendor extension unit reached through the capture stack with
// kernel-streaming properties. It finds the camera, identifies its controller by the ROM signature, and
// carries register access, memory requests (8-byte mode and XU6 block mode), memory information, write
// duplication and I2C requests.
#pragma once

#include "flashcore/connection/state.h"

#include <cstdint>
#include <string_view>

namespace flashcore::xu {

enum class SearchResult { Success, NoDevice, EnumeratorUnavailable, ErrorWithDeviceKept };

using MemoryRequestFn = bool (*)(int slot, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                                 std::uint32_t length, std::uint32_t chunk);

// Search by index: the first capture device that passes the chip identification probe; the probe records the
// chip family under `requestedSlot`.
SearchResult searchByIndex(int requestedSlot);
// Search by path: the capture device whose device path starts with the first `compareLength` characters of
// `path`, probed for slot 0.
bool searchByPath(std::u16string_view path, int compareLength);

// Reads the ROM signature with `request` at each candidate address and matches it against the controller
// table; on a match stores the row as the slot's chip family and copies the 8 bytes to `signature`.
bool probeChip(int slot, MemoryRequestFn request, std::uint8_t* signature);

// Installs the extension-unit entries, with the XU6 block memory request when `blockMode`.
void installTransport(bool blockMode);

// Transport entries.
bool writeRegister(int slot, std::uint16_t reg, std::uint8_t value);
bool readRegister(int slot, std::uint16_t reg, std::uint8_t* value);
bool memoryRequest8(int slot, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                    std::uint32_t length, std::uint32_t chunk);
bool memoryRequestBlocks(int slot, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                         std::uint32_t length, std::uint32_t chunk);
bool readMemoryInfo(int slot, std::uint8_t* record);
bool setDuplication(int slot, std::uint8_t a, std::uint16_t b);
bool close(int slot);
const char* devicePath(int slot);
bool i2cWrite(int slot, const std::uint8_t* request);
bool i2cRead(int slot, std::uint8_t* request);

} // namespace flashcore::xu
