// flashcore's exports: the plain form acts on slot 0, the slot form takes the slot first; both only forward
// to the one implementation, and no exception crosses the boundary.
#include "flashcore.h"

#include "flashcore/connection/device_control.h"
#include "flashcore/connection/open.h"
#include "flashcore/connection/register_access.h"
#include "flashcore/connection/state.h"
#include "flashcore/flash/burn.h"
#include "flashcore/flash/image_format.h"
#include "flashcore/flash/locators.h"
#include "flashcore/flash/serial_flash.h"
#include "flashcore/flash/strings.h"
#include "flashcore/flash/write_protect.h"

#include <string_view>

namespace {

using namespace flashcore;

template <typename R, typename F> R guarded(R onError, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return onError;
    }
}

std::u16string_view widePath(const fw_wchar* path) {
    static_assert(sizeof(fw_wchar) == sizeof(char16_t));
    return std::u16string_view(reinterpret_cast<const char16_t*>(path));
}

} // namespace

// Configuration.
bool IsUseFilterDriver(bool enable) {
    return state().flags.useFilterDriver = enable;
}
bool IsZetaBurner(bool enable) {
    return state().flags.zetaBurner = enable;
}
bool IsNeedFilterId(bool enable, unsigned char* image, fw_ulong length) {
    ConfigFlags& flags = state().flags;
    flags.filterImage = image;
    flags.filterImageLength = length;
    return flags.needFilterId = enable;
}
bool IsNeedOTPcheck(bool enable) {
    return state().flags.needOtpCheck = enable;
}
int EnableModeXU6(bool enable) {
    return state().flags.xuMode = enable ? kXuModeBlocks : kXuModeEightByte;
}

// Open and close.
int Initialize_DriverInterface(int slot, int waitMs, bool skipProtectCheck) {
    return guarded(0, [&] { return openByIndex(slot, waitMs, skipProtectCheck); });
}
int Initialize_DriverInterface(int waitMs, bool skipProtectCheck) {
    return Initialize_DriverInterface(0, waitMs, skipProtectCheck);
}
int Initialize_DriverInterface2(const fw_wchar* devicePath, int compareLength, int waitMs,
                                bool skipProtectCheck) {
    if (!devicePath) return -1;
    return guarded(0,
                   [&] { return openByPath(widePath(devicePath), compareLength, waitMs, skipProtectCheck); });
}
int Initialize_DriverInterface_Multi(const fw_wchar* devicePath, int compareLength, USBDeviceInfo* record,
                                     bool useRecord, int waitMs, bool skipProtectCheck) {
    if (!devicePath) return -1;
    return guarded(0, [&] {
        return openMulti(widePath(devicePath), compareLength, record, useRecord, waitMs, skipProtectCheck);
    });
}
bool UnInitialize_DriverInterface(int slot) {
    return guarded(false, [&] { return closeSlot(slot); });
}
bool UnInitialize_DriverInterface() {
    return UnInitialize_DriverInterface(0);
}
bool IsFilterDriverOk() {
    return guarded(false, [] { return isFilterDriverOk(); });
}
bool GetBypassLength(int slot, fw_ulong& length) {
    std::uint32_t value = 0;
    if (!getBypassLength(slot, &value)) return false;
    length = value;
    return true;
}
bool GetBypassLength(fw_ulong* length) {
    return length && GetBypassLength(0, *length);
}
bool IsNewSensorTable(int slot) {
    return isNewSensorTable(slot);
}
bool IsNewSensorTable() {
    return isNewSensorTable(0);
}

// Registers and memory.
bool ProcWriteToASIC(int slot, unsigned short reg, unsigned char value) {
    return guarded(false, [&] { return writeRegister(slot, reg, value); });
}
bool ProcWriteToASIC(unsigned short reg, unsigned char value) {
    return ProcWriteToASIC(0, reg, value);
}
bool SetSpecReg(unsigned short reg, unsigned char value) {
    return ProcWriteToASIC(0, reg, value);
}
bool ProcReadFromASIC(int slot, unsigned short reg, unsigned char* value) {
    return guarded(false, [&] { return readRegister(slot, reg, value); });
}
bool ProcReadFromASIC(unsigned short reg, unsigned char* value) {
    return ProcReadFromASIC(0, reg, value);
}
bool GetSpecReg(unsigned short reg, unsigned char* value) {
    return ProcReadFromASIC(0, reg, value);
}
bool ReqToDriver(int slot, unsigned char command, unsigned int address, unsigned char* buffer,
                 fw_ulong length) {
    return guarded(false, [&] { return reqToDriver(slot, command, address, buffer, length); });
}
bool ReqToDriver(unsigned char command, unsigned int address, unsigned char* buffer, fw_ulong length) {
    return ReqToDriver(0, command, address, buffer, length);
}
bool ReqToDriver2(int slot, unsigned char command, unsigned int address, unsigned char* buffer,
                  fw_ulong length) {
    return guarded(false, [&] { return reqToDriver2(slot, command, address, buffer, length); });
}
bool ReqToDriver2(unsigned char command, unsigned int address, unsigned char* buffer, fw_ulong length) {
    return ReqToDriver2(0, command, address, buffer, length);
}
bool GetMemType(int slot, unsigned char* type) {
    return guarded(false, [&] { return getMemType(slot, type); });
}
bool GetMemType(unsigned char* type) {
    return GetMemType(0, type);
}
bool GetSectorTableAddr(int slot, unsigned short* address) {
    return guarded(false, [&] { return getSectorTableAddr(slot, address); });
}
bool GetSectorTableAddr(unsigned short* address) {
    return GetSectorTableAddr(0, address);
}
bool SetWriteDuplication(int slot, unsigned char a, unsigned short b) {
    return guarded(false, [&] { return setWriteDuplication(slot, a, b); });
}
bool SetWriteDuplication(unsigned char a, unsigned short b) {
    return SetWriteDuplication(0, a, b);
}
int GetProgress() {
    return getProgress();
}

// Device control.
int ResetDevice(int slot) {
    return guarded(kResetFailed, [&] { return resetDevice(slot); });
}
int ResetDevice() {
    return ResetDevice(0);
}
bool PullCpuRate(int slot, bool raise) {
    return guarded(false, [&] { return pullCpuRate(slot, raise); });
}
bool PullCpuRate(bool raise) {
    return PullCpuRate(0, raise);
}
bool SetCPURate(unsigned char rate) {
    return guarded(false, [&] { return setCpuRate(0, rate); });
}
bool SetSerialFlashClock(unsigned char clock) {
    return guarded(false, [&] { return setSerialFlashClock(0, clock); });
}

// ROM signature and code version.
bool GetRomVersion(int slot, char* signature) {
    return guarded(false, [&] { return getRomVersion(slot, reinterpret_cast<std::uint8_t*>(signature)); });
}
bool GetRomVersion(char* signature) {
    return GetRomVersion(0, signature);
}
bool GetCodeVersion(int slot, unsigned char* text) {
    return guarded(false, [&] { return getCodeVersion(slot, text); });
}
bool GetCodeVersion(unsigned char* text) {
    return GetCodeVersion(0, text);
}

// Serial flash.
bool SF_WaitReady(int slot) {
    return guarded(false, [&] { return sfWaitReady(slot); });
}
bool SF_WaitReady() {
    return SF_WaitReady(0);
}
bool SF_CMDread_Status(int slot) {
    return guarded(false, [&] { return sfReadStatus(slot); });
}
bool SF_CMDread_Status() {
    return SF_CMDread_Status(0);
}
bool GetSFStatus(int slot, unsigned char* status) {
    return guarded(false, [&] { return getSfStatus(slot, status); });
}
bool GetSFStatus(unsigned char* status) {
    return GetSFStatus(0, status);
}
bool GetSFSize(int slot, fw_ulong* size, fw_ulong* sectorSize) {
    return guarded(false, [&] {
        std::uint32_t bytes = 0, sector = 0;
        const bool ok = getSfSize(slot, &bytes, &sector);
        if (size) *size = bytes;
        if (sectorSize) *sectorSize = sector;
        return ok;
    });
}
bool GetSFSize(fw_ulong* size, fw_ulong* sectorSize) {
    return GetSFSize(0, size, sectorSize);
}
bool EraseSF(int slot, fw_ulong* protectedOut) {
    return guarded(false, [&] {
        std::uint32_t latched = 0;
        const bool ok = eraseSf(slot, protectedOut ? &latched : nullptr);
        if (protectedOut && latched) *protectedOut = latched;
        return ok;
    });
}
bool EraseSF(fw_ulong* protectedOut) {
    return EraseSF(0, protectedOut);
}
bool SectorEraseSF(int slot, unsigned char sector, fw_ulong* protectedOut) {
    return guarded(false, [&] {
        std::uint32_t latched = 0;
        const bool ok = sectorEraseSf(slot, sector, protectedOut ? &latched : nullptr);
        if (protectedOut && latched) *protectedOut = latched;
        return ok;
    });
}
bool SectorEraseSF(unsigned char sector, fw_ulong* protectedOut) {
    return SectorEraseSF(0, sector, protectedOut);
}
int GetFlashType(int slot) {
    return guarded(-1, [&] { return getFlashType(slot); });
}
int GetFlashType() {
    return GetFlashType(0);
}
bool SetFlashType(int slot, int type) {
    return guarded(false, [&] { return setFlashType(slot, type); });
}
bool SetFlashType(int type) {
    return SetFlashType(0, type);
}

// Parameter-table locators.
namespace {

void storeLocation(const ParaTableLocation& l, fw_ulong* start, fw_ulong* end, fw_ulong* crcBlock) {
    *start = l.start;
    *end = l.end;
    *crcBlock = l.crcBlock;
}

bool storeLocations(const ParaTableLocation* l, std::uint32_t count, fw_ulong* starts, fw_ulong* ends,
                    fw_ulong* crcBlocks, fw_ulong* countOut) {
    for (std::uint32_t k = 0; k < count; ++k)
        storeLocation(l[k], starts + k, ends + k, crcBlocks + k);
    *countOut = count;
    return true;
}

} // namespace

bool GetParaTableAndCRCAddrFromBinFile(fw_ulong* start, fw_ulong* end, fw_ulong* crcBlock,
                                       unsigned char* image, fw_ulong length) {
    if (!start || !end || !crcBlock) return false;
    return guarded(false, [&] {
        ParaTableLocation l;
        if (!locateImageParaTable(image, length, l)) return false;
        storeLocation(l, start, end, crcBlock);
        return true;
    });
}
bool GetParaTablesAndCRCAddrsFromBinFile(fw_ulong* starts, fw_ulong* ends, fw_ulong* crcBlocks,
                                         unsigned char* image, fw_ulong length, fw_ulong* count) {
    if (!starts || !ends || !crcBlocks || !count) return false;
    return guarded(false, [&] {
        ParaTableLocation l[kMaxParaTables];
        std::uint32_t n = 0;
        return locateImageParaTables(image, length, l, n) &&
               storeLocations(l, n, starts, ends, crcBlocks, count);
    });
}
bool GetParaTableAndCRCAddrFromDevice(fw_ulong* start, fw_ulong* end, fw_ulong* crcBlock) {
    if (!start || !end || !crcBlock) return false;
    return guarded(false, [&] {
        ParaTableLocation l;
        if (!locateDeviceParaTable(l)) return false;
        storeLocation(l, start, end, crcBlock);
        return true;
    });
}
bool GetParaTablesAndCRCAddrsFromDevice(fw_ulong* starts, fw_ulong* ends, fw_ulong* crcBlocks,
                                        fw_ulong* count) {
    if (!starts || !ends || !crcBlocks || !count) return false;
    return guarded(false, [&] {
        ParaTableLocation l[kMaxParaTables];
        std::uint32_t n = 0;
        return locateDeviceParaTables(l, n) && storeLocations(l, n, starts, ends, crcBlocks, count);
    });
}

// Write protection.
bool SetWriteProtect(int slot, bool protect, unsigned short& gpioRegister, unsigned char& wpConfig,
                     fw_ulong* protectedOut) {
    return guarded(false, [&] {
        std::uint32_t latched = 0;
        std::uint16_t gpio = gpioRegister;
        const bool ok = setWriteProtect(slot, protect, gpio, wpConfig, protectedOut ? &latched : nullptr);
        gpioRegister = gpio;
        if (protectedOut && latched) *protectedOut = latched;
        return ok;
    });
}
bool SetWriteProtect(bool protect, unsigned short* gpioRegister, unsigned char* wpConfig,
                     fw_ulong* protectedOut) {
    if (!gpioRegister || !wpConfig) return false;
    return SetWriteProtect(0, protect, *gpioRegister, *wpConfig, protectedOut);
}
bool QUELT_GetWPAddrBinFile(const unsigned char* image, fw_ulong length, fw_ulong* address) {
    if (!address) return false;
    return guarded(false, [&] {
        std::uint32_t a = 0;
        if (!wpConfigAddressOfImage(image, length, a)) return false;
        *address = a;
        return true;
    });
}
bool QUELT_GetWPAddrDevice(fw_ulong* address) {
    if (!address) return false;
    return guarded(false, [&] {
        std::uint32_t a = 0;
        if (!wpConfigAddressOfDevice(a)) return false;
        *address = a;
        return true;
    });
}

// Burn engine.
bool BurnBinFileAndStringToDevice(unsigned char* image, fw_ulong length, const char* text,
                                  fw_ulong textLength, unsigned short kind, fw_ulong* protectedOut) {
    return guarded(false, [&] {
        std::uint32_t latched = 0;
        const bool ok = burnImage(image, length, text, textLength, kind, protectedOut ? &latched : nullptr);
        if (protectedOut && latched) *protectedOut = latched;
        return ok;
    });
}
bool BurstDevice() {
    return guarded(false, [] { return burstDevice(); });
}
bool QUELT_IsFWEmpty() {
    return guarded(true, [] { return isFirmwareEmpty(); });
}
bool EraseDeviceFW() {
    return guarded(false, [] { return eraseDeviceFirmware(); });
}
void GetBurnPercent(int* percent) {
    if (percent) *percent = burnPercent();
}

// Strings and USB identifiers: in an image in memory, in the flash of slot 0, and as reported to the host.
namespace {

bool imageString(const unsigned char* image, fw_ulong length, StringSlotPlace place, char* text,
                 fw_ulong capacity) {
    return guarded(false, [&] { return getImageString(image, length, place, text, capacity); });
}
bool setImageStringGuarded(const char* text, fw_ulong textLength, unsigned char* image, fw_ulong length,
                           StringSlotPlace place) {
    return guarded(false, [&] { return setImageString(text, textLength, image, length, place); });
}
bool imageId(const unsigned char* image, fw_ulong length, std::uint32_t offset, unsigned short* value) {
    if (!value) return false;
    return guarded(false, [&] { return getImageId(image, length, offset, *value); });
}
bool setImageIdGuarded(unsigned short value, unsigned char* image, fw_ulong length, std::uint32_t offset) {
    return guarded(false, [&] { return setImageId(value, image, length, offset); });
}
bool deviceString(StringSlotPlace place, char* text, fw_ulong capacity) {
    return guarded(false, [&] { return getDeviceString(place, text, capacity); });
}
bool patchDeviceStringGuarded(const char* text, fw_ulong textLength, StringSlotPlace place,
                              fw_ulong* protectedOut) {
    return guarded(false, [&] {
        std::uint32_t latched = 0;
        const bool ok = patchDeviceString(text, textLength, place, protectedOut ? &latched : nullptr);
        if (protectedOut && latched) *protectedOut = latched;
        return ok;
    });
}
bool deviceId(std::uint32_t offset, unsigned short* value) {
    if (!value) return false;
    return guarded(false, [&] { return getDeviceId(offset, *value); });
}
bool reportedString(ReportedString which, char* text, fw_ulong capacity) {
    return guarded(false, [&] { return getReportedString(which, text, capacity); });
}
bool reportedId(ReportedId which, unsigned short* value) {
    return guarded(false, [&] { return getReportedId(which, value); });
}

} // namespace

bool QUELT_GetProductBinFile(const unsigned char* image, fw_ulong length, char* text, fw_ulong capacity) {
    return imageString(image, length, kProductSlot, text, capacity);
}
bool QUELT_GetManufacturerBinFile(const unsigned char* image, fw_ulong length, char* text,
                                  fw_ulong capacity) {
    return imageString(image, length, kManufacturerSlot, text, capacity);
}
bool QUELT_GetSerialNumberBinFile(const unsigned char* image, fw_ulong length, char* text,
                                  fw_ulong capacity) {
    return imageString(image, length, kSerialNumberSlot, text, capacity);
}
bool QUELT_GetInterfaceBinFile(const unsigned char* image, fw_ulong length, char* text, fw_ulong capacity) {
    return imageString(image, length, kInterfaceSlot, text, capacity);
}
bool QUELT_GetManufacturerNoCRCProtectBinFile(const unsigned char* image, fw_ulong length, char* text,
                                              fw_ulong capacity) {
    return imageString(image, length, kPlainManufacturerSlot, text, capacity);
}
bool QUELT_SetProductBinFile(const char* text, fw_ulong textLength, unsigned char* image, fw_ulong length) {
    return setImageStringGuarded(text, textLength, image, length, kProductSlot);
}
bool QUELT_SetManufacturerBinFile(const char* text, fw_ulong textLength, unsigned char* image,
                                  fw_ulong length) {
    return setImageStringGuarded(text, textLength, image, length, kManufacturerSlot);
}
bool QUELT_SetSerialNumberBinFile(const char* text, fw_ulong textLength, unsigned char* image,
                                  fw_ulong length) {
    return setImageStringGuarded(text, textLength, image, length, kSerialNumberSlot);
}
bool QUELT_SetInterfaceBinFile(const char* text, fw_ulong textLength, unsigned char* image, fw_ulong length) {
    return setImageStringGuarded(text, textLength, image, length, kInterfaceSlot);
}
bool QUELT_SetManufacturerNoCRCProtectBinFile(const char* text, fw_ulong textLength, unsigned char* image,
                                              fw_ulong length) {
    return setImageStringGuarded(text, textLength, image, length, kPlainManufacturerSlot);
}
bool QUELT_GetVIDBinFile(const unsigned char* image, fw_ulong length, unsigned short* value) {
    return imageId(image, length, kVendorIdOffset, value);
}
bool QUELT_GetPIDBinFile(const unsigned char* image, fw_ulong length, unsigned short* value) {
    return imageId(image, length, kProductIdOffset, value);
}
bool QUELT_GetBCDBinFile(const unsigned char* image, fw_ulong length, unsigned short* value) {
    return imageId(image, length, kDeviceReleaseOffset, value);
}
bool QUELT_SetVIDBinFile(unsigned short value, unsigned char* image, fw_ulong length) {
    return setImageIdGuarded(value, image, length, kVendorIdOffset);
}
bool QUELT_SetPIDBinFile(unsigned short value, unsigned char* image, fw_ulong length) {
    return setImageIdGuarded(value, image, length, kProductIdOffset);
}
bool QUELT_SetBCDBinFile(unsigned short value, unsigned char* image, fw_ulong length) {
    return setImageIdGuarded(value, image, length, kDeviceReleaseOffset);
}

bool QUELT_GetProduct(char* text, fw_ulong capacity) {
    return deviceString(kProductSlot, text, capacity);
}
bool QUELT_GetManufacturer(char* text, fw_ulong capacity) {
    return deviceString(kManufacturerSlot, text, capacity);
}
bool QUELT_GetSerialNumber(char* text, fw_ulong capacity) {
    return deviceString(kSerialNumberSlot, text, capacity);
}
bool QUELT_GetInterface(char* text, fw_ulong capacity) {
    return deviceString(kInterfaceSlot, text, capacity);
}
bool QUELT_GetManufacturerNoCRCProtect(char* text, fw_ulong capacity) {
    return deviceString(kPlainManufacturerSlot, text, capacity);
}
bool QUELT_SetManufacturer(const char* text, fw_ulong textLength, fw_ulong* protectedOut) {
    return patchDeviceStringGuarded(text, textLength, kManufacturerSlot, protectedOut);
}
bool QUELT_SetSerialNumber(const char* text, fw_ulong textLength, fw_ulong* protectedOut) {
    return patchDeviceStringGuarded(text, textLength, kSerialNumberSlot, protectedOut);
}
bool QUELT_SetManufacturerNoCRCProtect(const char* text, fw_ulong textLength, fw_ulong* protectedOut) {
    return patchDeviceStringGuarded(text, textLength, kPlainManufacturerSlot, protectedOut);
}
bool QUELT_GetVID(unsigned short* value) {
    return deviceId(kVendorIdOffset, value);
}
bool QUELT_GetPID(unsigned short* value) {
    return deviceId(kProductIdOffset, value);
}
bool QUELT_GetBCD(unsigned short* value) {
    return deviceId(kDeviceReleaseOffset, value);
}
bool ReadSerialNumberFromDevice(char* text, fw_ulong capacity, unsigned short kind) {
    return guarded(false, [&] { return readSerialNumberFromDevice(text, capacity, kind); });
}
bool WriteSerialNumberToDevice(const char* text, fw_ulong textLength, unsigned short kind,
                               fw_ulong* protectedOut) {
    return guarded(false, [&] {
        std::uint32_t latched = 0;
        const bool ok = writeSerialNumberToDevice(text, textLength, kind, protectedOut ? &latched : nullptr);
        if (protectedOut && latched) *protectedOut = latched;
        return ok;
    });
}
int IsSerialNumberSameWithDevice(const unsigned char* image, fw_ulong length, unsigned short kind) {
    return guarded(-1, [&] { return isSerialNumberSameWithDevice(image, length, kind); });
}
bool QUELT_ReserveManufacturer(unsigned char* image, fw_ulong length) {
    return guarded(false, [&] { return reserveDeviceString(image, length, kManufacturerSlot); });
}
bool QUELT_ReserveSerialNumber(unsigned char* image, fw_ulong length) {
    return guarded(false, [&] { return reserveDeviceString(image, length, kSerialNumberSlot); });
}

bool QUELT_GetProductDevDesc(char* text, fw_ulong capacity) {
    return reportedString(ReportedString::Product, text, capacity);
}
bool QUELT_GetManufacturerDevDesc(char* text, fw_ulong capacity) {
    return reportedString(ReportedString::Manufacturer, text, capacity);
}
bool QUELT_GetSerialNumberDevDesc(char* text, fw_ulong capacity) {
    return reportedString(ReportedString::SerialNumber, text, capacity);
}
bool QUELT_GetVIDDevDesc(unsigned short* value) {
    return reportedId(ReportedId::Vendor, value);
}
bool QUELT_GetPIDDevDesc(unsigned short* value) {
    return reportedId(ReportedId::Product, value);
}
bool QUELT_GetBCDDevDesc(unsigned short* value) {
    return reportedId(ReportedId::DeviceRelease, value);
}
