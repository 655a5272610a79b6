#include "flashcore/flash/image_layout.h"

#include "flashcore/bytes.h"
#include "flashcore/flash/crc16.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>

namespace flashcore {

namespace {

bool modelIs(const std::uint8_t* signature, const char* model4) {
    return std::memcmp(signature, model4, 4) == 0;
}

} // namespace

LayoutGroup layoutGroupOf(const std::uint8_t* signature) {
    const std::uint8_t variant = signature[5];
    const bool variant1 = variant == 1;
    if (modelIs(signature, "T410") && variant1) return LayoutGroup::Fixed;
    if (modelIs(signature, "T410") && variant == 2) return LayoutGroup::Short;
    for (const char* m : {"T420", "T425", "T440", "T445"})
        if (modelIs(signature, m) && variant1) return LayoutGroup::Short;
    for (const char* m : {"T435", "T470", "T455", "T465"})
        if (modelIs(signature, m) && variant1) return LayoutGroup::Long;
    for (const char* m : {"T430", "T450", "T460", "T415"})
        if (modelIs(signature, m) && variant1 && signature[6] == 'F') return LayoutGroup::Long;
    return LayoutGroup::Default;
}

bool locateParaTable(LayoutGroup group, const std::uint8_t* image, std::size_t length, unsigned index,
                     std::uint32_t defaultEnd, ParaTableLocation& out) {
    switch (group) {
    case LayoutGroup::Fixed:
        out = {0xC000, 0xCF00, 0xCF00};
        return true;
    case LayoutGroup::Default:
        out = {0x8000, defaultEnd, 0};
        return true;
    case LayoutGroup::Short:
    case LayoutGroup::Long:
        break;
    }
    std::size_t stride = 0;
    if (index > 0) {
        if (length < kTableStrideOffset + 2) return false;
        stride = readBe16(image + kTableStrideOffset);
    }
    const std::size_t shift = index * stride;
    if (group == LayoutGroup::Short) {
        if (length < 0x016F + shift) return false;
        const std::uint8_t* d = image + shift;
        out.start = std::uint32_t{d[0x0168]} * 256;
        out.end = out.start + std::uint32_t{d[0x0169]} * 256;
        out.crcBlock = std::uint32_t{d[0x016E]} * 256;
        return true;
    }
    if (length < 0x018B + shift) return false;
    const std::uint8_t* d = image + shift;
    out.start = readBe32(d + 0x016F);
    out.end = out.start + readBe32(d + 0x0173);
    out.crcBlock = readBe32(d + 0x0187);
    return true;
}

bool decodeStringSlot(const std::uint8_t* slot, SlotFormat format, std::string& text) {
    text.clear();
    if (format == SlotFormat::Plain) {
        for (std::uint32_t i = 0; i < kMaxPlainSlotText && slot[i] != 0xFF; ++i)
            text.push_back(static_cast<char>(slot[i]));
        return true;
    }
    const int lengthByte = slot[0];
    if (lengthByte == 0 || lengthByte > static_cast<int>(kStringSlotSize)) return false;
    const int n = (lengthByte - 2) / 2; // truncates toward zero: a length byte of 1 gives 0
    for (int i = 0; i < n; ++i)
        text.push_back(static_cast<char>(slot[2 + 2 * i]));
    return true;
}

bool encodeStringSlot(const char* text, std::uint32_t length, SlotFormat format, std::uint8_t* slot) {
    if (!text || length > kMaxSlotText) return false;
    std::fill_n(slot, kStringSlotSize, std::uint8_t{0xFF});
    if (format == SlotFormat::Plain) {
        std::copy_n(text, length, slot);
        return true;
    }
    slot[0] = static_cast<std::uint8_t>((length + 1) * 2);
    slot[1] = 3;
    for (std::uint32_t i = 0; i < length; ++i) {
        slot[2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
        slot[3 + 2 * i] = 0x00;
    }
    return true;
}

bool paraTableCrcFits(const FlashWindow& window, const ParaTableLocation& table) {
    if (table.crcBlock == 0) return true;
    return table.start <= table.end && window.holds(table.start, table.end - table.start) &&
           window.holds(std::uint64_t{table.crcBlock} + kParaTableCrcOffset, 2);
}

namespace {

std::uint16_t paraTableCrc(const FlashWindow& window, const ParaTableLocation& table) {
    return crc16Modbus(window.at(table.start), table.end - table.start);
}

} // namespace

bool paraTableCrcHolds(const FlashWindow& window, const ParaTableLocation& table) {
    if (table.crcBlock == 0) return true;
    return readBe16(window.at(std::uint64_t{table.crcBlock} + kParaTableCrcOffset)) ==
           paraTableCrc(window, table);
}

void refreshParaTableCrc(const FlashWindow& window, const ParaTableLocation& table) {
    if (table.crcBlock == 0) return;
    writeBe16(window.at(std::uint64_t{table.crcBlock} + kParaTableCrcOffset), paraTableCrc(window, table));
}

} // namespace flashcore
