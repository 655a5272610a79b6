// The camera's USB identity and strings: read and written in an image held in memory, in the flash of the
// open camera (slot 0), copied from the camera into a new image, compared between the two, and read from
// the descriptors the camera reported to the USB host at open. Images and flash are both interpreted by the
// controller of slot 0, so slot 0 must be open.
#pragma once

#include "flashcore/flash/image_layout.h"

#include <cstdint>

namespace flashcore {

// Where a string lives: a descriptor slot at an offset of the parameter table, or the plain manufacturer
// slot at an offset of the CRC block.
struct StringSlotPlace {
    std::uint32_t offset;
    SlotFormat format;
};

inline constexpr StringSlotPlace kProductSlot = {kProductStringOffset, SlotFormat::Descriptor};
inline constexpr StringSlotPlace kManufacturerSlot = {kManufacturerStringOffset, SlotFormat::Descriptor};
inline constexpr StringSlotPlace kSerialNumberSlot = {kSerialStringOffset, SlotFormat::Descriptor};
inline constexpr StringSlotPlace kInterfaceSlot = {kInterfaceStringOffset, SlotFormat::Descriptor};
inline constexpr StringSlotPlace kPlainManufacturerSlot = {kPlainManufacturerOffset, SlotFormat::Plain};

// The string kinds of the serial-number operations and of a burn.
enum StringKind : std::uint16_t {
    kManufacturerString = 0,
    kSerialNumberString = 1,
    kPlainManufacturerString = 2
};

// Image in memory. Getters copy exactly the decoded characters (no terminating zero) and fail when they
// exceed `capacity`; setters refuse a null text, more than 31 characters, or a slot, table or CRC word
// outside the image before changing anything, and refresh the parameter-table CRC after a change inside
// the table.
bool getImageString(const std::uint8_t* image, std::uint32_t length, StringSlotPlace place, char* text,
                    std::uint32_t capacity);
bool setImageString(const char* text, std::uint32_t textLength, std::uint8_t* image, std::uint32_t length,
                    StringSlotPlace place);
// `offset`: kVendorIdOffset, kProductIdOffset or kDeviceReleaseOffset.
bool getImageId(const std::uint8_t* image, std::uint32_t length, std::uint32_t offset, std::uint16_t& value);
bool setImageId(std::uint16_t value, std::uint8_t* image, std::uint32_t length, std::uint32_t offset);
// The burn's stamp: kind 0, 1 or 2 to the manufacturer, serial-number or plain manufacturer slot.
bool stampImageString(std::uint8_t* image, std::uint32_t length, const char* text, std::uint32_t textLength,
                      std::uint16_t kind);

// The flash of slot 0. The string operations fail when the flash holds no complete image.
bool getDeviceString(StringSlotPlace place, char* text, std::uint32_t capacity);
bool getDeviceId(std::uint32_t offset, std::uint16_t& value);
// Rewrites the sectors from the parameter table's to the CRC block's with the new slot (and the refreshed
// parameter-table CRC for descriptor slots): unprotect, sector erase, write, protect, read back. Sectors
// whose table does not match its stored CRC are refused before anything changes. Not atomic: a failure
// after the first erase leaves those sectors erased or partly written and the flash unprotected.
bool patchDeviceString(const char* text, std::uint32_t textLength, StringSlotPlace place,
                       std::uint32_t* protectedOut);
bool readSerialNumberFromDevice(char* text, std::uint32_t capacity, std::uint16_t kind);
bool writeSerialNumberToDevice(const char* text, std::uint32_t textLength, std::uint16_t kind,
                               std::uint32_t* protectedOut);
// 1 when the image's slot of `kind` equals the camera's, 0 when it differs, -1 on error.
int isSerialNumberSameWithDevice(const std::uint8_t* image, std::uint32_t length, std::uint16_t kind);
// Copies the camera's slot into the image (true with the image unchanged when the camera has no firmware).
bool reserveDeviceString(std::uint8_t* image, std::uint32_t length, StringSlotPlace place);

// What the camera reported to the host at open (the device descriptor record).
enum class ReportedString { Product, Manufacturer, SerialNumber };
enum class ReportedId { Vendor, Product, DeviceRelease };
bool getReportedString(ReportedString which, char* text, std::uint32_t capacity);
bool getReportedId(ReportedId which, std::uint16_t* value);

// The identity test of the by-index filter-driver open: `combinedId` = vendor id × 65536 + product id of a
// candidate camera for `slot`. Accepts a camera without firmware (the maker's vendor id with one of its ten
// product ids from 0x6362) and the camera the filter image names; marks the slot opened when it accepts.
bool matchesBurnTarget(std::uint32_t combinedId, int slot);

} // namespace flashcore
