// The two register maps of the controller family: the register numbers of 16 roles, chosen at open by what
// register 0x101F reads (0xAA: map B).
#pragma once

#include <array>
#include <cstdint>

namespace flashcore {

enum RegisterEntry : int {
    kCpuRateEntry = 0,
    kGpioOutEntry = 1,
    kGpioEnableEntry = 2,
    kResetEntry = 3,
    kSfManualModeEntry = 4,
    kSfTriggerEntry = 5,
    kSfDataOutEntry = 6,
    kSfDataInEntry = 7,
    kSfReadyEntry = 8,
    kSfChipSelectEntry = 9,
    kWriteEnableOpcodeEntry = 10,
    kProgramOpcodeEntry = 11,
    kPermission0Entry = 12,
    kPermission1Entry = 13,
    kPermission2Entry = 14,
    kPermission3Entry = 15,
};

using RegisterMap = std::array<std::uint16_t, 16>;

inline constexpr RegisterMap kRegisterMapA = {0x1002, 0x1006, 0x1007, 0x1073, 0x1080, 0x1081, 0x1082, 0x1083,
                                              0x1084, 0x1091, 0x05F3, 0x05F5, 0x05F8, 0x05F9, 0x05FA, 0x05FB};
inline constexpr RegisterMap kRegisterMapB = {0x8041, 0x8201, 0x8202, 0x8C00, 0x8E00, 0x8E01, 0x8E02, 0x8E03,
                                              0x8E04, 0x8E11, 0x05F3, 0x05F5, 0x05F8, 0x05F9, 0x05FA, 0x05FB};

inline constexpr std::uint16_t kMapSelectRegister = 0x101F;
inline constexpr std::uint8_t kMapBMarker = 0xAA;

} // namespace flashcore
