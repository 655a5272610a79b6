// Device control: reset the camera's controller, change its CPU rate and set the serial-flash clock, each
// through single register accesses on an opened slot.
#pragma once

#include <cstdint>

namespace flashcore {

inline constexpr int kResetFailed = 0;
inline constexpr int kResetWithWait = 1;
inline constexpr int kResetSent = 2;

// Fixed register of the serial-flash clock, the same in both register maps.
inline constexpr std::uint16_t kFlashClockRegister = 0x1090;

// Families 6 and 8 clear bit 0 of the reset register and wait one second (kResetWithWait); the others write
// 0x00 to it (kResetSent). kResetFailed when the slot is not open or the families 6 and 8 read fails.
int resetDevice(int slot);

// Raises or lowers the CPU rate by the family's rule; false only when the slot is not open.
bool pullCpuRate(int slot, bool raise);

// Rate 0 writes 0x81, rate 1 writes 0x01 to the CPU-rate register; other rates are refused untouched.
bool setCpuRate(int slot, std::uint8_t rate);

// Clock 0..3 is written to the serial-flash clock register; larger values are refused untouched.
bool setSerialFlashClock(int slot, std::uint8_t clock);

} // namespace flashcore
