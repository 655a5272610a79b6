#include "flashcore/flash/image_format.h"

#include "flashcore/connection/state.h"
#include "flashcore/connection/xu_transport.h"

namespace flashcore {

bool getRomVersion(int slot, std::uint8_t* signature) {
    if (!slotOpen(slot) || !signature) return false;
    return xu::probeChip(slot, state().ctx.transport.memoryRequest, signature);
}

bool locateImageParaTable(const std::uint8_t* image, std::uint32_t length, ParaTableLocation& out) {
    std::uint8_t signature[8];
    if (!image || !getRomVersion(0, signature)) return false;
    return locateParaTable(layoutGroupOf(signature), image, length, 0, 0, out);
}

} // namespace flashcore
