// CRC-16/MODBUS, the checksum of the firmware image's parameter table and calibration region: polynomial
// 0x8005 processed bit-reversed (0xA001), initial value 0xFFFF, no final XOR. Images store it high byte
// first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flashcore {

constexpr std::uint16_t crc16Modbus(const std::uint8_t* data, std::size_t length) {
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return crc;
}

} // namespace flashcore
