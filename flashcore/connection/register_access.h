// Register access and the command channel: every access to the camera's chip goes through these functions,
// which check the slot and call the installed transport's entries.
#pragma once

#include <cstdint>

namespace flashcore {

bool writeRegister(int slot, std::uint16_t reg, std::uint8_t value);
bool readRegister(int slot, std::uint16_t reg, std::uint8_t* value);

// Memory requests: reqToDriver2 hands any command to the transport; reqToDriver writes images (command 6,
// with the CRC word and presence marker last) and reads flash (command 7), and ignores other commands.
bool reqToDriver2(int slot, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                  std::uint32_t length);
bool reqToDriver(int slot, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                 std::uint32_t length);

bool getMemType(int slot, std::uint8_t* type);
bool getSectorTableAddr(int slot, std::uint16_t* address);
bool setWriteDuplication(int slot, std::uint8_t a, std::uint16_t b);

int getProgress();

// One flash-address range of an image write, sent from the buffer at (start - address of the write).
struct WriteRange {
    std::uint32_t start;
    std::uint32_t end;
};
// The order in which an image write of [address, address + length) sends its pieces, given the flash address
// of the parameter-table CRC word: every byte exactly once, the CRC word second to last and the presence
// marker at 0x160..0x163 last, whenever they lie in the range. At most five ranges.
int imageWriteOrder(std::uint32_t address, std::uint32_t length, std::uint32_t crcWord, WriteRange* ranges);

} // namespace flashcore
