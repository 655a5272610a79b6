/* usbgate: access to the cameras that the camera filter driver exposes. */
#ifndef USBGATE_H
#define USBGATE_H

#include "fwtypes.h"

#ifdef __cplusplus
#include <cstddef>
#else
#include <stddef.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* One filter-driver camera as USBEnumDevice reports it (536 bytes). */
typedef struct USBDeviceInfo {
    char friendlyName[256];
    uint32_t idWord; /* low 16 bits: USB product id, high 16 bits: vendor id */
    uint8_t interfaceGuid[16];
    char devicePath[256];
    int32_t instance; /* 1..24 */
} USBDeviceInfo;

FW_EXPORT int32_t USBEnumDevice(USBDeviceInfo* list, int32_t max, int32_t* count);
FW_EXPORT int32_t USBOpenDevice(fw_handle* handle, const USBDeviceInfo* record);
FW_EXPORT int32_t USBCloseDevice(fw_handle handle);
FW_EXPORT int32_t USBRegReadWrite(fw_handle handle, uint8_t command, fw_ulong address, fw_ulong length,
                                  uint8_t* data);

#ifdef __cplusplus
}
static_assert(sizeof(USBDeviceInfo) == 536, "USBDeviceInfo is a 536-byte record");
static_assert(offsetof(USBDeviceInfo, idWord) == 256 && offsetof(USBDeviceInfo, interfaceGuid) == 260 &&
                  offsetof(USBDeviceInfo, devicePath) == 276 && offsetof(USBDeviceInfo, instance) == 532,
              "USBDeviceInfo field offsets");
#endif

#endif
