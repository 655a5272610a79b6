// The camera's USB device descriptor and string descriptors, read from the USB hub driver at the end of every
// open, independently of the transports: all hubs and their ports are walked until a connected device shows
// the vendor and product id of the extension-unit device path.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace flashcore {

// What the walk found. Strings are kept by string index, not by meaning: the text of string index k is held
// for k = 1, 2, 3 only, whichever of the three descriptor fields names k.
struct DeviceDescriptorRecord {
    std::uint32_t found = 0; // 1 when the camera was found on a hub port
    // From the device descriptor of the last port examined.
    std::uint16_t idVendor = 0;
    std::uint16_t idProduct = 0;
    std::uint16_t bcdDevice = 0;
    std::uint8_t iManufacturer = 0;
    std::uint8_t iProduct = 0;
    std::uint8_t iSerialNumber = 0;
    // UTF-16LE text of string indices 1, 2 and 3 (element k - 1) without the descriptor header; empty when
    // the device reported none, an empty one, or a malformed one.
    std::array<std::vector<std::uint8_t>, 3> strings;

    // The stored text of string index k; null for indices other than 1, 2 and 3.
    const std::vector<std::uint8_t>* stringText(std::uint8_t index) const {
        return index >= 1 && index <= 3 ? &strings[index - 1] : nullptr;
    }
};

// Zeroes the record, then fills it from the hub driver with the vendor and product id found in `devicePath`
// (the extension-unit device path, "vid_xxxx" and "pid_xxxx" in hexadecimal). Returns whether the camera was
// found; when it was not, the identity fields hold what the last port examined reported.
bool fillDeviceDescriptors(DeviceDescriptorRecord& record, std::string_view devicePath);

// Releases the strings and zeroes the record.
void clearDeviceDescriptors(DeviceDescriptorRecord& record);

} // namespace flashcore
