// Write protection of the serial flash, switched on and off together in three places: the flash's status
// register, the controller's write-permission registers, and the GPIO pin wired to the flash's
// write-protect input as the image's write-protect configuration byte describes it.
#pragma once

#include <cstdint>

namespace flashcore {

inline constexpr std::uint8_t kProtectedStatus = 0x8C;
inline constexpr std::uint8_t kUnprotectedStatus = 0x00;

// `gpioRegister`: on unprotect receives the pin-level register; on protect names the register whose pin bits
// are set or cleared (callers start it at 0xFFFF and pass the same variable to both).
bool setWriteProtect(int slot, bool protect, std::uint16_t& gpioRegister, std::uint8_t wpConfig,
                     std::uint32_t* protectedOut);

// Address of the write-protect configuration byte: parameter-table start + 52.
bool wpConfigAddressOfImage(const std::uint8_t* image, std::uint32_t length, std::uint32_t& address);
bool wpConfigAddressOfDevice(std::uint32_t& address);

} // namespace flashcore
