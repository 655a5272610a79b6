#include "flashcore/connection/chunked_transfer.h"

#include "flashcore/connection/state.h"

#include <algorithm>

namespace flashcore {

bool runChunkedTransfer(std::uint8_t command, std::uint32_t address, std::uint32_t length,
                        std::uint32_t chunk, std::uint32_t cap,
                        const std::function<bool(const Piece&)>& send) {
    ConnectionContext& ctx = state().ctx;
    ctx.progress = 0;
    const std::uint32_t pieceSize = std::min(chunk, cap);
    if (pieceSize == 0) return false;

    std::uint32_t done = 0;
    if (command == kCmdWriteFlash && address % pieceSize != 0 && length > 0) {
        const std::uint32_t head = std::min(pieceSize - address % pieceSize, length);
        if (!send({address, 0, head, false})) return false;
        done = head;
    }
    const std::uint32_t wholeEnd = done + (length - done) / pieceSize * pieceSize;
    const bool trackBurn = command == kCmdWriteFlash && length >= 0x10000;
    while (done < wholeEnd) {
        if (trackBurn) {
            const std::uint32_t remaining = wholeEnd - done;
            ctx.burnPercent = 100 - static_cast<int>(remaining * 100.0 / length);
        }
        if (!send({address + done, done, pieceSize, true})) return false;
        done += pieceSize;
        ctx.progress = static_cast<int>(std::uint64_t{done} * 100 / length);
    }
    if (done < length) return send({address + done, done, length - done, false});
    return true;
}

} // namespace flashcore
