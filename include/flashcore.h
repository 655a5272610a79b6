/* flashcore: the burner library. Opens a camera, identifies its controller and flash chip, and reads and
   writes its registers, memory and serial flash.

   Most operations exist twice: a plain export acting on device slot 0 (C linkage, usable from C), and for
   C++ callers an overload that takes the device slot (0..23) first. Results are false (or the stated error
   value) for a slot that is not open. */
#ifndef FLASHCORE_H
#define FLASHCORE_H

#include "fwtypes.h"
#include "usbgate.h"

#ifndef __cplusplus
#include <stdbool.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Configuration, set before an open. The first four return their argument. */
FW_EXPORT bool IsUseFilterDriver(bool enable);
FW_EXPORT bool IsZetaBurner(bool enable);
FW_EXPORT bool IsNeedFilterId(bool enable, unsigned char* image, fw_ulong length);
FW_EXPORT bool IsNeedOTPcheck(bool enable);
/* Stores 3 (XU6 block mode permitted) when true, 2 when false; returns the stored value. */
FW_EXPORT int EnableModeXU6(bool enable);

/* Open and close. The opens return 1 (filter driver), 2 (extension unit, 8-byte mode), 3 (extension unit,
   XU6 block mode), or 0, -1, -2 on failure. */
FW_EXPORT int Initialize_DriverInterface(int waitMs, bool skipProtectCheck);
FW_EXPORT int Initialize_DriverInterface2(const fw_wchar* devicePath, int compareLength, int waitMs,
                                          bool skipProtectCheck);
FW_EXPORT int Initialize_DriverInterface_Multi(const fw_wchar* devicePath, int compareLength,
                                               USBDeviceInfo* record, bool useRecord, int waitMs,
                                               bool skipProtectCheck);
FW_EXPORT bool UnInitialize_DriverInterface(void);
FW_EXPORT bool IsFilterDriverOk(void);
FW_EXPORT bool GetBypassLength(fw_ulong* length);
FW_EXPORT bool IsNewSensorTable(void);

/* Registers and memory. SetSpecReg and GetSpecReg are second names of the register write and read. */
FW_EXPORT bool ProcWriteToASIC(unsigned short reg, unsigned char value);
FW_EXPORT bool ProcReadFromASIC(unsigned short reg, unsigned char* value);
FW_EXPORT bool SetSpecReg(unsigned short reg, unsigned char value);
FW_EXPORT bool GetSpecReg(unsigned short reg, unsigned char* value);
FW_EXPORT bool ReqToDriver(unsigned char command, unsigned int address, unsigned char* buffer,
                           fw_ulong length);
FW_EXPORT bool ReqToDriver2(unsigned char command, unsigned int address, unsigned char* buffer,
                            fw_ulong length);
FW_EXPORT bool GetMemType(unsigned char* type);
FW_EXPORT bool GetSectorTableAddr(unsigned short* address);
FW_EXPORT bool SetWriteDuplication(unsigned char a, unsigned short b);
FW_EXPORT int GetProgress(void);

/* Device control. ResetDevice returns 1 (reset, after a one-second wait), 2 (reset command sent) or 0
   (failure). SetCPURate takes 0 or 1, SetSerialFlashClock 0..3. */
FW_EXPORT int ResetDevice(void);
FW_EXPORT bool PullCpuRate(bool raise);
FW_EXPORT bool SetCPURate(unsigned char rate);
FW_EXPORT bool SetSerialFlashClock(unsigned char clock);

/* ROM signature (8 raw bytes, not terminated) and firmware version text (the buffer holds 24 bytes). */
FW_EXPORT bool GetRomVersion(char* signature);
FW_EXPORT bool GetCodeVersion(unsigned char* text);

/* Serial flash. */
FW_EXPORT bool SF_WaitReady(void);
FW_EXPORT bool SF_CMDread_Status(void);
FW_EXPORT bool GetSFStatus(unsigned char* status);
FW_EXPORT bool GetSFSize(fw_ulong* size, fw_ulong* sectorSize);
FW_EXPORT bool EraseSF(fw_ulong* protectedOut);
FW_EXPORT bool SectorEraseSF(unsigned char sector, fw_ulong* protectedOut);
FW_EXPORT int GetFlashType(void);
FW_EXPORT bool SetFlashType(int type);

/* Parameter tables and CRC blocks of an image in memory or of the flash of slot 0 (interpreted by the
   controller of slot 0). The multi-table forms fill arrays of up to 100 entries. */
FW_EXPORT bool GetParaTableAndCRCAddrFromBinFile(fw_ulong* start, fw_ulong* end, fw_ulong* crcBlock,
                                                 unsigned char* image, fw_ulong length);
FW_EXPORT bool GetParaTablesAndCRCAddrsFromBinFile(fw_ulong* starts, fw_ulong* ends, fw_ulong* crcBlocks,
                                                   unsigned char* image, fw_ulong length, fw_ulong* count);
FW_EXPORT bool GetParaTableAndCRCAddrFromDevice(fw_ulong* start, fw_ulong* end, fw_ulong* crcBlock);
FW_EXPORT bool GetParaTablesAndCRCAddrsFromDevice(fw_ulong* starts, fw_ulong* ends, fw_ulong* crcBlocks,
                                                  fw_ulong* count);

/* Write protection: false switches it off (gpioRegister receives the pin register), true on again. */
FW_EXPORT bool SetWriteProtect(bool protect, unsigned short* gpioRegister, unsigned char* wpConfig,
                               fw_ulong* protectedOut);
FW_EXPORT bool QUELT_GetWPAddrBinFile(const unsigned char* image, fw_ulong length, fw_ulong* address);
FW_EXPORT bool QUELT_GetWPAddrDevice(fw_ulong* address);

/* Burning. kind: 0 manufacturer string, 1 serial number, 2 plain manufacturer slot (with textLength > 0). */
FW_EXPORT bool BurnBinFileAndStringToDevice(unsigned char* image, fw_ulong length, const char* text,
                                            fw_ulong textLength, unsigned short kind, fw_ulong* protectedOut);
FW_EXPORT bool BurstDevice(void);
FW_EXPORT bool QUELT_IsFWEmpty(void);
FW_EXPORT bool EraseDeviceFW(void);
FW_EXPORT void GetBurnPercent(int* percent);

/* Strings and USB identifiers of an image in memory (interpreted by the controller of slot 0). The five
   string slots: product, manufacturer, serial number and interface (USB string descriptors in the parameter
   table) and the plain manufacturer slot of the CRC block ("NoCRCProtect", refused on T410M controllers).
   Getters copy exactly the characters of the slot, without a terminating zero, and fail when they exceed
   `capacity`. Setters take at most 31 characters and refresh the parameter-table CRC after a change inside
   the table; the image is changed in place. */
FW_EXPORT bool QUELT_GetProductBinFile(const unsigned char* image, fw_ulong length, char* text,
                                       fw_ulong capacity);
FW_EXPORT bool QUELT_GetManufacturerBinFile(const unsigned char* image, fw_ulong length, char* text,
                                            fw_ulong capacity);
FW_EXPORT bool QUELT_GetSerialNumberBinFile(const unsigned char* image, fw_ulong length, char* text,
                                            fw_ulong capacity);
FW_EXPORT bool QUELT_GetInterfaceBinFile(const unsigned char* image, fw_ulong length, char* text,
                                         fw_ulong capacity);
FW_EXPORT bool QUELT_GetManufacturerNoCRCProtectBinFile(const unsigned char* image, fw_ulong length,
                                                        char* text, fw_ulong capacity);
FW_EXPORT bool QUELT_SetProductBinFile(const char* text, fw_ulong textLength, unsigned char* image,
                                       fw_ulong length);
FW_EXPORT bool QUELT_SetManufacturerBinFile(const char* text, fw_ulong textLength, unsigned char* image,
                                            fw_ulong length);
FW_EXPORT bool QUELT_SetSerialNumberBinFile(const char* text, fw_ulong textLength, unsigned char* image,
                                            fw_ulong length);
FW_EXPORT bool QUELT_SetInterfaceBinFile(const char* text, fw_ulong textLength, unsigned char* image,
                                         fw_ulong length);
FW_EXPORT bool QUELT_SetManufacturerNoCRCProtectBinFile(const char* text, fw_ulong textLength,
                                                        unsigned char* image, fw_ulong length);
FW_EXPORT bool QUELT_GetVIDBinFile(const unsigned char* image, fw_ulong length, unsigned short* value);
FW_EXPORT bool QUELT_GetPIDBinFile(const unsigned char* image, fw_ulong length, unsigned short* value);
FW_EXPORT bool QUELT_GetBCDBinFile(const unsigned char* image, fw_ulong length, unsigned short* value);
FW_EXPORT bool QUELT_SetVIDBinFile(unsigned short value, unsigned char* image, fw_ulong length);
FW_EXPORT bool QUELT_SetPIDBinFile(unsigned short value, unsigned char* image, fw_ulong length);
FW_EXPORT bool QUELT_SetBCDBinFile(unsigned short value, unsigned char* image, fw_ulong length);

/* The same in the flash of slot 0. String operations fail when the flash holds no complete image. The
   setters rewrite the sectors from the parameter table to the CRC block (unprotect, sector erase, write,
   protect, read back); a failure after the erase leaves those sectors erased or partly written, and the
   camera then needs a full burn. */
FW_EXPORT bool QUELT_GetProduct(char* text, fw_ulong capacity);
FW_EXPORT bool QUELT_GetManufacturer(char* text, fw_ulong capacity);
FW_EXPORT bool QUELT_GetSerialNumber(char* text, fw_ulong capacity);
FW_EXPORT bool QUELT_GetInterface(char* text, fw_ulong capacity);
FW_EXPORT bool QUELT_GetManufacturerNoCRCProtect(char* text, fw_ulong capacity);
FW_EXPORT bool QUELT_SetManufacturer(const char* text, fw_ulong textLength, fw_ulong* protectedOut);
FW_EXPORT bool QUELT_SetSerialNumber(const char* text, fw_ulong textLength, fw_ulong* protectedOut);
FW_EXPORT bool QUELT_SetManufacturerNoCRCProtect(const char* text, fw_ulong textLength,
                                                 fw_ulong* protectedOut);
FW_EXPORT bool QUELT_GetVID(unsigned short* value);
FW_EXPORT bool QUELT_GetPID(unsigned short* value);
FW_EXPORT bool QUELT_GetBCD(unsigned short* value);
/* kind: 0 manufacturer, 1 serial number, 2 plain manufacturer slot. IsSerialNumberSameWithDevice returns 1
   when the image's slot equals the camera's, 0 when not, -1 on error. The Reserve exports copy the camera's
   manufacturer or serial-number slot into the image (true, image unchanged, for a camera without firmware).
 */
FW_EXPORT bool ReadSerialNumberFromDevice(char* text, fw_ulong capacity, unsigned short kind);
FW_EXPORT bool WriteSerialNumberToDevice(const char* text, fw_ulong textLength, unsigned short kind,
                                         fw_ulong* protectedOut);
FW_EXPORT int IsSerialNumberSameWithDevice(const unsigned char* image, fw_ulong length, unsigned short kind);
FW_EXPORT bool QUELT_ReserveManufacturer(unsigned char* image, fw_ulong length);
FW_EXPORT bool QUELT_ReserveSerialNumber(unsigned char* image, fw_ulong length);

/* What the camera reported to the USB host when slot 0 was opened (8-bit characters, no terminating zero). */
FW_EXPORT bool QUELT_GetProductDevDesc(char* text, fw_ulong capacity);
FW_EXPORT bool QUELT_GetManufacturerDevDesc(char* text, fw_ulong capacity);
FW_EXPORT bool QUELT_GetSerialNumberDevDesc(char* text, fw_ulong capacity);
FW_EXPORT bool QUELT_GetVIDDevDesc(unsigned short* value);
FW_EXPORT bool QUELT_GetPIDDevDesc(unsigned short* value);
FW_EXPORT bool QUELT_GetBCDDevDesc(unsigned short* value);

#ifdef __cplusplus
} /* extern "C" */

/* Slot forms. */
FW_EXPORT int Initialize_DriverInterface(int slot, int waitMs, bool skipProtectCheck);
FW_EXPORT bool UnInitialize_DriverInterface(int slot);
FW_EXPORT bool GetBypassLength(int slot, fw_ulong& length);
FW_EXPORT bool IsNewSensorTable(int slot);
FW_EXPORT bool ProcWriteToASIC(int slot, unsigned short reg, unsigned char value);
FW_EXPORT bool ProcReadFromASIC(int slot, unsigned short reg, unsigned char* value);
FW_EXPORT bool ReqToDriver(int slot, unsigned char command, unsigned int address, unsigned char* buffer,
                           fw_ulong length);
FW_EXPORT bool ReqToDriver2(int slot, unsigned char command, unsigned int address, unsigned char* buffer,
                            fw_ulong length);
FW_EXPORT bool GetMemType(int slot, unsigned char* type);
FW_EXPORT bool GetSectorTableAddr(int slot, unsigned short* address);
FW_EXPORT bool SetWriteDuplication(int slot, unsigned char a, unsigned short b);
FW_EXPORT int ResetDevice(int slot);
FW_EXPORT bool PullCpuRate(int slot, bool raise);
FW_EXPORT bool GetRomVersion(int slot, char* signature);
FW_EXPORT bool GetCodeVersion(int slot, unsigned char* text);
FW_EXPORT bool SF_WaitReady(int slot);
FW_EXPORT bool SF_CMDread_Status(int slot);
FW_EXPORT bool GetSFStatus(int slot, unsigned char* status);
FW_EXPORT bool GetSFSize(int slot, fw_ulong* size, fw_ulong* sectorSize);
FW_EXPORT bool EraseSF(int slot, fw_ulong* protectedOut);
FW_EXPORT bool SectorEraseSF(int slot, unsigned char sector, fw_ulong* protectedOut);
FW_EXPORT int GetFlashType(int slot);
FW_EXPORT bool SetFlashType(int slot, int type);
FW_EXPORT bool SetWriteProtect(int slot, bool protect, unsigned short& gpioRegister, unsigned char& wpConfig,
                               fw_ulong* protectedOut);
#endif

#endif
