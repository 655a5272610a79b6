#include "flashcore/flash/strings.h"

#include "flashcore/bytes.h"
#include "flashcore/connection/chunked_transfer.h"
#include "flashcore/connection/register_access.h"
#include "flashcore/connection/state.h"
#include "flashcore/flash/burn.h"
#include "flashcore/flash/image_format.h"
#include "flashcore/flash/locators.h"
#include "flashcore/flash/serial_flash.h"
#include "flashcore/flash/write_protect.h"
#include "fwconfig.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

namespace flashcore {

namespace {

// The string-slot patch rewrites whole 4 KiB sectors; the sector erase names its sector in one byte.
constexpr std::uint32_t kSectorShift = 12;
constexpr std::uint32_t kSectorSize = 1u << kSectorShift;
constexpr std::uint32_t kLastErasableSector = 0xFF;
constexpr std::uint16_t kNoGpioRegister = 0xFFFF;

// A camera without firmware reports the maker's vendor id and one of ten product ids from this one.
constexpr std::uint16_t kBlankProductId = 0x6362;
constexpr std::uint16_t kBlankProductIdCount = 10;

// The slot of each string kind, indexed by kind.
constexpr StringSlotPlace kKindSlots[] = {kManufacturerSlot, kSerialNumberSlot, kPlainManufacturerSlot};

const StringSlotPlace* slotOfKind(std::uint16_t kind) {
    return kind < std::size(kKindSlots) ? &kKindSlots[kind] : nullptr;
}

bool isDescriptor(StringSlotPlace place) {
    return place.format == SlotFormat::Descriptor;
}

// The flash address of a slot of the located table. A layout without a CRC block has no plain slot: its
// address would fall into the image header.
bool slotAddress(const ParaTableLocation& table, StringSlotPlace place, std::uint64_t& address) {
    if (isDescriptor(place)) {
        address = std::uint64_t{table.start} + place.offset;
        return true;
    }
    if (table.crcBlock == 0) return false;
    address = std::uint64_t{table.crcBlock} + place.offset;
    return true;
}

// T410M controllers (variants 1 and 2) keep no plain manufacturer slot.
bool plainSlotRefused(const std::uint8_t* signature) {
    return std::memcmp(signature, "T410", 4) == 0 && (signature[5] == 1 || signature[5] == 2);
}

bool placeAllowed(StringSlotPlace place) {
    if (isDescriptor(place)) return true;
    std::uint8_t signature[8];
    return getRomVersion(0, signature) && !plainSlotRefused(signature);
}

// The `size` bytes at offset `address` lie inside an image of `length` bytes.
bool insideImage(std::uint64_t address, std::uint64_t size, std::uint32_t length) {
    return address + size <= length;
}

bool readFlash(std::uint64_t address, std::uint8_t* buffer, std::uint32_t length) {
    if (address + length > (std::uint64_t{1} << 32)) return false;
    return reqToDriver(0, kCmdReadFlash, static_cast<std::uint32_t>(address), buffer, length);
}

// Copies the decoded text of a slot to the caller: exactly its characters, no terminating zero.
bool copyDecoded(const std::uint8_t* slot, SlotFormat format, char* text, std::uint32_t capacity) {
    std::string decoded;
    if (!decodeStringSlot(slot, format, decoded) || decoded.size() > capacity) return false;
    std::copy(decoded.begin(), decoded.end(), text);
    return true;
}

// Writes a new slot into a window and refreshes the parameter-table CRC when the slot lies in the table;
// nothing is changed unless the slot and the CRC range lie inside the window.
bool putSlot(const FlashWindow& window, const ParaTableLocation& table, std::uint64_t address,
             StringSlotPlace place, const std::uint8_t* slot) {
    if (!window.holds(address, kStringSlotSize)) return false;
    if (isDescriptor(place) && !paraTableCrcFits(window, table)) return false;
    std::copy_n(slot, kStringSlotSize, window.at(address));
    if (isDescriptor(place)) refreshParaTableCrc(window, table);
    return true;
}

} // namespace

bool getImageString(const std::uint8_t* image, std::uint32_t length, StringSlotPlace place, char* text,
                    std::uint32_t capacity) {
    if (!text || capacity == 0 || !image || length == 0 || !placeAllowed(place)) return false;
    ParaTableLocation table;
    std::uint64_t address = 0;
    if (!locateImageParaTable(image, length, table) || !slotAddress(table, place, address) ||
        !insideImage(address, kStringSlotSize, length))
        return false;
    return copyDecoded(image + address, place.format, text, capacity);
}

bool setImageString(const char* text, std::uint32_t textLength, std::uint8_t* image, std::uint32_t length,
                    StringSlotPlace place) {
    std::uint8_t slot[kStringSlotSize];
    if (!image || !encodeStringSlot(text, textLength, place.format, slot) || !placeAllowed(place))
        return false;
    ParaTableLocation table;
    std::uint64_t address = 0;
    if (!locateImageParaTable(image, length, table) || !slotAddress(table, place, address)) return false;
    return putSlot({image, 0, length}, table, address, place, slot);
}

bool getImageId(const std::uint8_t* image, std::uint32_t length, std::uint32_t offset, std::uint16_t& value) {
    if (!image || length == 0) return false;
    ParaTableLocation table;
    if (!locateImageParaTable(image, length, table)) return false;
    const std::uint64_t address = std::uint64_t{table.start} + offset;
    if (!insideImage(address, 2, length)) return false;
    value = readBe16(image + address);
    return true;
}

bool setImageId(std::uint16_t value, std::uint8_t* image, std::uint32_t length, std::uint32_t offset) {
    if (!image || length == 0) return false;
    ParaTableLocation table;
    if (!locateImageParaTable(image, length, table)) return false;
    const FlashWindow window{image, 0, length};
    const std::uint64_t address = std::uint64_t{table.start} + offset;
    if (!window.holds(address, 2) || !paraTableCrcFits(window, table)) return false;
    writeBe16(window.at(address), value);
    refreshParaTableCrc(window, table);
    return true;
}

bool stampImageString(std::uint8_t* image, std::uint32_t length, const char* text, std::uint32_t textLength,
                      std::uint16_t kind) {
    const StringSlotPlace* place = slotOfKind(kind);
    return place && setImageString(text, textLength, image, length, *place);
}

bool getDeviceString(StringSlotPlace place, char* text, std::uint32_t capacity) {
    if (!text || capacity == 0 || isFirmwareEmpty() || !placeAllowed(place)) return false;
    ParaTableLocation table;
    std::uint64_t address = 0;
    if (!locateDeviceParaTable(table) || !slotAddress(table, place, address)) return false;
    std::uint8_t slot[kStringSlotSize] = {};
    return readFlash(address, slot, kStringSlotSize) && copyDecoded(slot, place.format, text, capacity);
}

bool getDeviceId(std::uint32_t offset, std::uint16_t& value) {
    ParaTableLocation table;
    std::uint8_t bytes[2];
    if (!locateDeviceParaTable(table) || !readFlash(std::uint64_t{table.start} + offset, bytes, 2))
        return false;
    value = readBe16(bytes);
    return true;
}

bool patchDeviceString(const char* text, std::uint32_t textLength, StringSlotPlace place,
                       std::uint32_t* protectedOut) {
    std::uint8_t slot[kStringSlotSize];
    if (!encodeStringSlot(text, textLength, place.format, slot) || isFirmwareEmpty()) return false;
    ParaTableLocation table;
    std::uint64_t address = 0;
    if (!locateDeviceParaTable(table) || !slotAddress(table, place, address)) return false;

    // The run of sectors from the parameter table's to the CRC block's, read into a buffer. A CRC block
    // before the table gives no run at all, and a sector above 255 cannot be named to the sector erase: both
    // are refused before the flash is unprotected.
    const std::uint32_t first = table.start >> kSectorShift;
    const std::uint32_t last = table.crcBlock >> kSectorShift;
    if (last < first || last > kLastErasableSector) return false;
    std::vector<std::uint8_t> buffer((last - first + 1) * kSectorSize);
    const FlashWindow window{buffer.data(), first * kSectorSize, static_cast<std::uint32_t>(buffer.size())};
    if (!readFlash(window.base, buffer.data(), window.length)) return false;
    // The table read must carry its own CRC. When it does not, either the read went wrong (and the sectors
    // would be rewritten with what it returned) or the table is already damaged, by a patch cut off after its
    // erase, and rewriting it would seal the damage under a fresh CRC. A full burn repairs such a camera.
    if (!paraTableCrcFits(window, table) || !paraTableCrcHolds(window, table)) return false;
    if (!putSlot(window, table, address, place, slot)) return false;

    std::uint8_t signature[8];
    if (!getRomVersion(0, signature) || (!isDescriptor(place) && plainSlotRefused(signature))) return false;
    std::uint8_t wpConfig = 0;
    if (!readFlash(std::uint64_t{table.start} + kWpConfigOffset, &wpConfig, 1)) return false;
    std::uint16_t gpioRegister = kNoGpioRegister;
    if (!setWriteProtect(0, false, gpioRegister, wpConfig, protectedOut)) return false;

    // From here on a failure leaves the run erased or partly written and the flash unprotected.
    for (std::uint32_t sector = first; sector <= last; ++sector)
        if (!sectorEraseSf(0, static_cast<std::uint8_t>(sector), nullptr)) return false;
    if (!reqToDriver(0, kCmdWriteFlash, window.base, buffer.data(), window.length)) return false;
    if (!setWriteProtect(0, true, gpioRegister, wpConfig, nullptr)) return false;

    std::vector<std::uint8_t> readBack(window.length, 0);
    return readFlash(window.base, readBack.data(), window.length) && readBack == buffer;
}

bool readSerialNumberFromDevice(char* text, std::uint32_t capacity, std::uint16_t kind) {
    const StringSlotPlace* place = slotOfKind(kind);
    return place && getDeviceString(*place, text, capacity);
}

bool writeSerialNumberToDevice(const char* text, std::uint32_t textLength, std::uint16_t kind,
                               std::uint32_t* protectedOut) {
    const StringSlotPlace* place = slotOfKind(kind);
    return place && patchDeviceString(text, textLength, *place, protectedOut);
}

int isSerialNumberSameWithDevice(const std::uint8_t* image, std::uint32_t length, std::uint16_t kind) {
    const StringSlotPlace* place = slotOfKind(kind);
    if (!place || !image || length == 0 || isFirmwareEmpty() || !placeAllowed(*place)) return -1;
    // The camera's address of the slot serves the image too.
    ParaTableLocation table;
    std::uint64_t address = 0;
    if (!locateDeviceParaTable(table) || !slotAddress(table, *place, address) ||
        !insideImage(address, kStringSlotSize, length))
        return -1;
    std::uint8_t slot[kStringSlotSize] = {};
    if (!readFlash(address, slot, kStringSlotSize)) return -1;
    return std::equal(slot, slot + kStringSlotSize, image + address) ? 1 : 0;
}

bool reserveDeviceString(std::uint8_t* image, std::uint32_t length, StringSlotPlace place) {
    if (!image || length == 0) return false;
    if (isFirmwareEmpty()) return true; // nothing to keep
    ParaTableLocation cameraTable;
    std::uint64_t cameraAddress = 0;
    std::uint8_t slot[kStringSlotSize];
    std::fill_n(slot, kStringSlotSize, std::uint8_t{0xFF});
    if (!locateDeviceParaTable(cameraTable) || !slotAddress(cameraTable, place, cameraAddress) ||
        !readFlash(cameraAddress, slot, kStringSlotSize))
        return false;
    ParaTableLocation imageTable;
    std::uint64_t imageAddress = 0;
    if (!locateImageParaTable(image, length, imageTable) || !slotAddress(imageTable, place, imageAddress))
        return false;
    return putSlot({image, 0, length}, imageTable, imageAddress, place, slot);
}

bool getReportedString(ReportedString which, char* text, std::uint32_t capacity) {
    const DeviceDescriptorRecord& record = state().ctx.deviceDescriptors;
    if (!text || capacity == 0 || record.found == 0) return false;
    const std::uint8_t index = which == ReportedString::Product        ? record.iProduct
                               : which == ReportedString::Manufacturer ? record.iManufacturer
                                                                       : record.iSerialNumber;
    // The record holds the texts of string indices 1 to 3 only; index 0 names no string.
    const std::vector<std::uint8_t>* units = record.stringText(index);
    if (!units) return false;
    const std::size_t n = units->size() / 2;
    if (n > capacity) return false;
    for (std::size_t i = 0; i < n; ++i)
        text[i] = static_cast<char>((*units)[2 * i]);
    return true;
}

bool getReportedId(ReportedId which, std::uint16_t* value) {
    const DeviceDescriptorRecord& record = state().ctx.deviceDescriptors;
    if (!value || record.found == 0) return false;
    *value = which == ReportedId::Vendor    ? record.idVendor
             : which == ReportedId::Product ? record.idProduct
                                            : record.bcdDevice;
    return true;
}

bool matchesBurnTarget(std::uint32_t combinedId, int slot) {
    if (!validSlot(slot)) return false;
    SlotState& candidate = slotState(slot);
    candidate.opened = true;
    const std::uint16_t vendorId = static_cast<std::uint16_t>(combinedId >> 16);
    const std::uint16_t productId = static_cast<std::uint16_t>(combinedId);
    if (vendorId == FWT_MAKER_VENDOR_ID && productId >= kBlankProductId &&
        productId - kBlankProductId < kBlankProductIdCount)
        return true;
    const ConfigFlags& flags = state().flags;
    std::uint16_t imageVendorId = 0, imageProductId = 0;
    if (getImageId(flags.filterImage, flags.filterImageLength, kVendorIdOffset, imageVendorId) &&
        getImageId(flags.filterImage, flags.filterImageLength, kProductIdOffset, imageProductId) &&
        (std::uint32_t{imageVendorId} << 16 | imageProductId) == combinedId)
        return true;
    candidate.opened = false;
    return false;
}

} // namespace flashcore
