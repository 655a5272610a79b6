#include "flashcore/flash/burn.h"

#include "flashcore/connection/chunked_transfer.h"
#include "flashcore/connection/device_control.h"
#include "flashcore/connection/register_access.h"
#include "flashcore/connection/state.h"
#include "flashcore/flash/image_format.h"
#include "flashcore/flash/serial_flash.h"
#include "flashcore/flash/strings.h"
#include "flashcore/flash/write_protect.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace flashcore {

namespace {

constexpr std::uint32_t kEmptyCheckLength = 80;
constexpr std::uint16_t kNoGpioRegister = 0xFFFF;

// The T430M variant that runs from serial flash (signature byte 6 'F') needs its clock set up before the
// first burn into an empty flash.
bool needsClockSetup(const std::uint8_t* signature) {
    return std::memcmp(signature, "T430", 4) == 0 && signature[5] == 1 && signature[6] == 'F';
}

} // namespace

bool burstDevice() {
    std::uint8_t chipId = 0;
    if (!readRegister(0, kMapSelectRegister, &chipId)) return false;
    std::uint8_t rate = 0;
    if (chipId == 0x72 || chipId == 0x83)
        rate = 0x01;
    else if (chipId == 0x92)
        rate = 0x40;
    else
        return true;
    std::uint8_t current = 0;
    return readRegister(0, mapRegister(kCpuRateEntry), &current) &&
           writeRegister(0, mapRegister(kCpuRateEntry), rate);
}

bool isFirmwareEmpty() {
    std::uint8_t header[kEmptyCheckLength] = {};
    if (!reqToDriver(0, kCmdReadFlash, kPresenceMarkerOffset, header, kEmptyCheckLength)) return true;
    return std::memcmp(header, "tSec", 4) != 0;
}

bool burnImage(std::uint8_t* image, std::uint32_t length, const char* text, std::uint32_t textLength,
               std::uint16_t kind, std::uint32_t* protectedOut) {
    if (!image || length == 0) return false;
    // The kind is looked at only when there is a string to stamp.
    if (textLength != 0 && !stampImageString(image, length, text, textLength, kind)) return false;
    std::uint8_t signature[8];
    if (!getRomVersion(0, signature)) return false;
    if (needsClockSetup(signature) && isFirmwareEmpty()) {
        if (!setCpuRate(0, 1) || !setSerialFlashClock(0, 1)) return false;
    }

    // The write-protect configuration travels in the image's parameter table. An image too short for the
    // header fields its layout needs, or whose table lies outside it, is refused before anything is changed.
    std::uint32_t wpAddress = 0;
    if (!wpConfigAddressOfImage(image, length, wpAddress) || wpAddress >= length) return false;
    const std::uint8_t wpConfig = image[wpAddress];
    std::uint16_t gpioRegister = kNoGpioRegister;

    if (!setWriteProtect(0, false, gpioRegister, wpConfig, protectedOut)) return false;
    burstDevice();
    if (!eraseSf(0, protectedOut)) return false;
    burstDevice();
    if (!reqToDriver(0, kCmdWriteFlash, 0, image, length)) return false;
    if (!setWriteProtect(0, true, gpioRegister, wpConfig, protectedOut)) return false;

    std::vector<std::uint8_t> readBack(length, 0);
    burstDevice();
    if (!reqToDriver(0, kCmdReadFlash, 0, readBack.data(), length)) return false;
    return std::equal(readBack.begin(), readBack.end(), image);
}

bool eraseDeviceFirmware() {
    std::uint32_t wpAddress = 0;
    wpConfigAddressOfDevice(wpAddress);
    std::uint8_t wpConfig = 0;
    if (!reqToDriver(0, kCmdReadFlash, wpAddress, &wpConfig, 1)) return false;
    std::uint16_t gpioRegister = kNoGpioRegister;
    return setWriteProtect(0, false, gpioRegister, wpConfig, nullptr) && eraseSf(0, nullptr) &&
           setWriteProtect(0, true, gpioRegister, wpConfig, nullptr);
}

int burnPercent() {
    return state().ctx.burnPercent;
}

} // namespace flashcore
