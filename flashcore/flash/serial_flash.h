// The serial flash command layer: the controller's byte engine driven through registers, the framing of
// flash commands, status, size, erase, and flash identification through the id table.
#pragma once

#include <cstdint>

namespace flashcore {

bool sfWaitReady(int slot);
bool sfSendByte(int slot, std::uint8_t byte);
bool sfReceiveByte(int slot, std::uint8_t* byte);
bool ensureSfInterface(int slot);
// Busy wait: polls the status register until the flash leaves its busy state.
bool sfReadStatus(int slot);
bool getSfStatus(int slot, std::uint8_t* status);
bool getSfSize(int slot, std::uint32_t* size, std::uint32_t* sectorSize);
bool eraseSf(int slot, std::uint32_t* protectedOut);
bool sectorEraseSf(int slot, std::uint8_t sector, std::uint32_t* protectedOut);
// Probes the flash id (always on slot 0) and stores the result; returns the matched row's type code.
int probeFlashId();
int getFlashType(int slot);
bool setFlashType(int slot, int type);

// Framing helpers shared with the write-protection commands: chip select low / high.
bool sfSelect(int slot);
bool sfRelease(int slot);
bool sfManualMode(int slot, bool on);

} // namespace flashcore
