#include "flashcore/flash/locators.h"

#include "flashcore/bytes.h"
#include "flashcore/connection/chunked_transfer.h"
#include "flashcore/connection/register_access.h"
#include "flashcore/flash/image_format.h"

#include <array>

namespace flashcore {

namespace {

// Header bytes the device locators read: 32 from 0x160 for the short layout, 43 for the long layout.
constexpr std::uint32_t kShortHeaderRead = 32;
constexpr std::uint32_t kLongHeaderRead = 43;

bool slot0Group(LayoutGroup& group) {
    std::uint8_t signature[8];
    if (!getRomVersion(0, signature)) return false;
    group = layoutGroupOf(signature);
    return true;
}

// The fixed and default layouts place their single table at constant addresses.
bool constantLayout(LayoutGroup group) {
    return group == LayoutGroup::Fixed || group == LayoutGroup::Default;
}

// Reads the header descriptor at 0x160 + shift of the flash of slot 0 into a buffer laid out like the image
// from address 0, so the layout's own field offsets apply.
bool readDeviceHeader(LayoutGroup group, std::uint32_t shift, std::array<std::uint8_t, 0x18B>& header) {
    header.fill(0);
    const std::uint32_t length = group == LayoutGroup::Short ? kShortHeaderRead : kLongHeaderRead;
    return reqToDriver(0, kCmdReadFlash, kPresenceMarkerOffset + shift, header.data() + kPresenceMarkerOffset,
                       length);
}

} // namespace

bool locateDeviceParaTable(ParaTableLocation& out) {
    LayoutGroup group;
    if (!slot0Group(group)) return false;
    if (constantLayout(group)) return locateParaTable(group, nullptr, 0, 0, 0x8800, out);
    std::array<std::uint8_t, 0x18B> header;
    if (!readDeviceHeader(group, 0, header)) return false;
    return locateParaTable(group, header.data(), header.size(), 0, 0x8800, out);
}

bool locateImageParaTables(const std::uint8_t* image, std::uint32_t length, ParaTableLocation* out,
                           std::uint32_t& count) {
    LayoutGroup group;
    if (!image || !out || !slot0Group(group)) return false;
    if (constantLayout(group)) {
        count = 1;
        return locateParaTable(group, image, length, 0, 0, out[0]);
    }
    if (length <= kTableCountOffset) return false;
    const std::uint32_t tables = image[kTableCountOffset];
    if (tables > kMaxParaTables) return false;
    for (std::uint32_t k = 0; k < tables; ++k)
        if (!locateParaTable(group, image, length, k, 0, out[k])) return false;
    count = tables;
    return true;
}

bool locateDeviceParaTables(ParaTableLocation* out, std::uint32_t& count) {
    LayoutGroup group;
    if (!out || !slot0Group(group)) return false;
    std::uint8_t first[kLongHeaderRead];
    if (!reqToDriver(0, kCmdReadFlash, kPresenceMarkerOffset, first, kLongHeaderRead)) return false;
    if (constantLayout(group)) {
        count = 1;
        return locateParaTable(group, nullptr, 0, 0, 0x8800, out[0]);
    }
    const std::uint32_t tables = first[kTableCountOffset - kPresenceMarkerOffset];
    const std::uint32_t stride = readBe16(first + (kTableStrideOffset - kPresenceMarkerOffset));
    if (tables > kMaxParaTables) return false;
    std::array<std::uint8_t, 0x18B> header;
    for (std::uint32_t k = 0; k < tables; ++k) {
        if (!readDeviceHeader(group, k * stride, header)) return false;
        if (!locateParaTable(group, header.data(), header.size(), 0, 0x8800, out[k])) return false;
    }
    count = tables;
    return true;
}

} // namespace flashcore
