// The 14 camera controller families this toolkit serves, each identified by the 8-byte ROM signature the
// controller holds at a fixed ROM address. The row index is the chip family number.
#pragma once

#include <array>
#include <cstdint>

namespace flashcore {

struct ChipRow {
    std::uint16_t romAddress;
    // Model code (5 characters), variant byte, two further bytes.
    std::array<std::uint8_t, 8> signature;
    std::uint16_t flashTypeRegister;
    std::uint32_t bypassLength;
    bool parameterCapture;
    std::uint16_t nameOffset;
    std::uint16_t versionOffset;
};

namespace chip_table_detail {
constexpr std::array<std::uint8_t, 8> sig(const char (&model)[6], std::uint8_t variant, std::uint8_t b6,
                                          std::uint8_t b7) {
    return {static_cast<std::uint8_t>(model[0]),
            static_cast<std::uint8_t>(model[1]),
            static_cast<std::uint8_t>(model[2]),
            static_cast<std::uint8_t>(model[3]),
            static_cast<std::uint8_t>(model[4]),
            variant,
            b6,
            b7};
}
} // namespace chip_table_detail

inline constexpr int kChipFamilyCount = 14;

inline constexpr std::array<ChipRow, kChipFamilyCount> ChipTable = {{
    {0xC7F8, chip_table_detail::sig("T410M", 1, 0x20, 0x05), 0x05F0, 0xE000, true, 0x0000, 0x0148},
    {0xC7F8, chip_table_detail::sig("T410M", 2, 0x50, 0x07), 0x05F0, 0xE000, true, 0x0000, 0x0148},
    {0xBFF8, chip_table_detail::sig("T420M", 1, 0x43, 0x22), 0x05F0, 0xC000, true, 0x0000, 0x0148},
    {0xBFF8, chip_table_detail::sig("T425M", 1, 0x43, 0x22), 0x05F0, 0xC000, true, 0x0000, 0x0148},
    {0xBFF8, chip_table_detail::sig("T440M", 1, 0x45, 0x23), 0x05F0, 0xC000, true, 0x0000, 0x0148},
    {0xBFF8, chip_table_detail::sig("T445M", 1, 0x45, 0x23), 0x05F0, 0xC000, true, 0x0000, 0x0148},
    {0x9FF8, chip_table_detail::sig("T470M", 1, 0x61, 0x08), 0x05F0, 0xC000, false, 0x0000, 0x0148},
    {0xAFF8, chip_table_detail::sig("T430M", 1, 0x46, 0x25), 0x05F0, 0xC000, false, 0x0000, 0x0148},
    {0xAFF8, chip_table_detail::sig("T450M", 1, 0x46, 0x24), 0x05F0, 0xC000, false, 0x0000, 0x0148},
    {0xAFF8, chip_table_detail::sig("T460M", 1, 0x46, 0x31), 0x05F0, 0xC000, false, 0x0000, 0x0148},
    {0xAFF8, chip_table_detail::sig("T415M", 1, 0x46, 0x32), 0x05F0, 0xC000, false, 0x0000, 0x0148},
    {0xAFF8, chip_table_detail::sig("T435M", 1, 0x46, 0x35), 0x05F0, 0xC000, false, 0x0000, 0x0148},
    {0xAFF8, chip_table_detail::sig("T455M", 1, 0x46, 0x36), 0x05F0, 0xC000, false, 0x0000, 0x0148},
    {0xAFF8, chip_table_detail::sig("T465M", 1, 0x46, 0x37), 0x05F0, 0xC000, false, 0x0000, 0x0148},
}};

// The ROM addresses the identification probe reads, in probe order.
inline constexpr std::array<std::uint16_t, 4> kSignatureAddresses = {0xC7F8, 0xBFF8, 0x9FF8, 0xAFF8};

// Index of the first row whose ROM address equals `address` and whose signature matches `bytes` on the first
// four model-code characters and the variant byte; -1 when none does.
constexpr int matchChipRow(std::uint16_t address, const std::uint8_t* bytes) {
    for (int row = 0; row < kChipFamilyCount; ++row) {
        const ChipRow& r = ChipTable[row];
        if (r.romAddress != address) continue;
        if (r.signature[0] == bytes[0] && r.signature[1] == bytes[1] && r.signature[2] == bytes[2] &&
            r.signature[3] == bytes[3] && r.signature[5] == bytes[5])
            return row;
    }
    return -1;
}

} // namespace flashcore
