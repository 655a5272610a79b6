#include "flashcore/connection/register_access.h"

#include "flashcore/connection/chunked_transfer.h"
#include "flashcore/connection/state.h"
#include "flashcore/connection/xu_transport.h"
#include "flashcore/flash/image_format.h"

#include <algorithm>

namespace flashcore {

namespace {

constexpr std::uint32_t kMarkerStart = 0x160;
constexpr std::uint32_t kMarkerEnd = 0x164;

// Per-family preparation before every memory request.
bool prepareFamily(int slot) {
    const int family = slotState(slot).chipFamily;
    if (family == 7 || family == 9 || family == 11) {
        std::uint8_t value = 0;
        if (!readRegister(slot, 0x100D, &value)) return false;
        if (!writeRegister(slot, 0x100D, value & 0xFB)) return false;
        // The flash clock is set through the extension unit whichever transport is installed.
        return xu::writeRegister(slot, 0x1090, 1);
    }
    if (family == 13) {
        if (!writeRegister(slot, 0x8045, 4)) return false;
        return writeRegister(slot, 0x8E10, 4);
    }
    return true;
}

bool memoryRequest(int slot, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                   std::uint32_t length) {
    const ConnectionContext& ctx = state().ctx;
    return ctx.transport.memoryRequest &&
           ctx.transport.memoryRequest(slot, command, address, buffer, length, ctx.chunkSize);
}

WriteRange intersect(WriteRange a, WriteRange b) {
    const WriteRange r{std::max(a.start, b.start), std::min(a.end, b.end)};
    return r.start < r.end ? r : WriteRange{0, 0};
}

bool empty(WriteRange r) {
    return r.start >= r.end;
}

} // namespace

bool writeRegister(int slot, std::uint16_t reg, std::uint8_t value) {
    if (!slotOpen(slot)) return false;
    const auto write = state().ctx.transport.writeRegister;
    return write && write(slot, reg, value);
}

bool readRegister(int slot, std::uint16_t reg, std::uint8_t* value) {
    if (!slotOpen(slot) || !value) return false;
    const auto read = state().ctx.transport.readRegister;
    return read && read(slot, reg, value);
}

int imageWriteOrder(std::uint32_t address, std::uint32_t length, std::uint32_t crcWord, WriteRange* ranges) {
    const WriteRange all{address, address + length};
    const WriteRange marker = intersect(all, {kMarkerStart, kMarkerEnd});
    WriteRange crc = intersect(all, {crcWord, crcWord + 2});
    // A CRC word overlapping the marker keeps only its bytes outside the marker (the marker goes last).
    if (!empty(marker) && !empty(crc)) {
        if (crc.start >= marker.start) crc.start = std::max(crc.start, marker.end);
        if (crc.end <= marker.end) crc.end = std::min(crc.end, marker.start);
        if (empty(crc)) crc = {0, 0};
    }
    // The body is the range less the CRC word and the marker, in ascending order.
    WriteRange held[2] = {crc, marker};
    if (held[1].start < held[0].start) std::swap(held[0], held[1]);
    int n = 0;
    std::uint32_t cursor = all.start;
    for (const WriteRange& h : held) {
        if (empty(h)) continue;
        if (cursor < h.start) ranges[n++] = {cursor, h.start};
        cursor = h.end;
    }
    if (cursor < all.end) ranges[n++] = {cursor, all.end};
    if (!empty(crc)) ranges[n++] = crc;
    if (!empty(marker)) ranges[n++] = marker;
    return n;
}

bool reqToDriver2(int slot, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                  std::uint32_t length) {
    if (!slotOpen(slot) || !prepareFamily(slot)) return false;
    return memoryRequest(slot, command, address, buffer, length);
}

bool reqToDriver(int slot, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                 std::uint32_t length) {
    if (!slotOpen(slot) || !prepareFamily(slot)) return false;
    if (command == kCmdReadFlash) return memoryRequest(slot, command, address, buffer, length);
    if (command != kCmdWriteFlash) return true;
    if (!buffer || length == 0 || address + length < address) return false;
    ParaTableLocation location;
    if (!locateImageParaTable(buffer, length, location)) return false;
    WriteRange ranges[5];
    const int count = imageWriteOrder(address, length, location.crcBlock, ranges);
    for (int i = 0; i < count; ++i) {
        const WriteRange& r = ranges[i];
        if (!memoryRequest(slot, kCmdWriteFlash, r.start, buffer + (r.start - address), r.end - r.start))
            return false;
    }
    return true;
}

bool getMemType(int slot, std::uint8_t* type) {
    std::uint8_t record[3];
    if (!slotOpen(slot) || !type || !state().ctx.transport.readMemoryInfo(slot, record)) return false;
    *type = record[2];
    return true;
}

bool getSectorTableAddr(int slot, std::uint16_t* address) {
    std::uint8_t record[3];
    if (!slotOpen(slot) || !address || !state().ctx.transport.readMemoryInfo(slot, record)) return false;
    *address = static_cast<std::uint16_t>(record[0] | (record[1] << 8));
    return true;
}

bool setWriteDuplication(int slot, std::uint8_t a, std::uint16_t b) {
    if (!slotOpen(slot)) return false;
    return state().ctx.transport.setDuplication(slot, a, b);
}

int getProgress() {
    return state().ctx.progress;
}

} // namespace flashcore
