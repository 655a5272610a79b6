// The chunked transfer rule shared by the transports' memory requests: an optional head that aligns a write
// to the piece size, whole pieces, then a final partial piece, with the progress value and, for long writes,
// the burn percentage kept up to date.
#pragma once

#include <cstdint>
#include <functional>

namespace flashcore {

struct Piece {
    std::uint32_t address; // flash address of the piece
    std::uint32_t offset;  // offset of the piece in the caller's buffer
    std::uint32_t length;
    bool whole; // a whole piece of the piece size (not the head or the final partial piece)
};

// Sends the pieces of a transfer of `length` bytes at `address` in order through `send`; the piece size is
// min(chunk, cap) and a head is cut only for writes (command 6). False at the first failed piece, or when
// the piece size is 0.
bool runChunkedTransfer(std::uint8_t command, std::uint32_t address, std::uint32_t length,
                        std::uint32_t chunk, std::uint32_t cap,
                        const std::function<bool(const Piece&)>& send);

inline constexpr std::uint8_t kCmdWriteFlash = 6;
inline constexpr std::uint8_t kCmdReadFlash = 7;
inline constexpr std::uint8_t kCmdReadRom = 9;

} // namespace flashcore
