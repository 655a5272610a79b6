// usbgate's exports. The filter-driver access arrives later; until then no filter-driver camera is found and
// every handle-taking call fails, so flashcore's filter-driver open reports "no device".
#include "usbgate.h"

#include <cstring>

extern "C" {

int32_t USBEnumDevice(USBDeviceInfo* list, int32_t max, int32_t* count) {
    if (list && max > 0) std::memset(list, 0, sizeof(USBDeviceInfo) * static_cast<std::size_t>(max));
    if (count) *count = 0;
    return 0;
}

int32_t USBOpenDevice(fw_handle* handle, const USBDeviceInfo*) {
    if (handle) *handle = reinterpret_cast<fw_handle>(static_cast<intptr_t>(-1));
    return 1;
}

int32_t USBCloseDevice(fw_handle handle) {
    return handle == reinterpret_cast<fw_handle>(static_cast<intptr_t>(-1)) ? 1 : 0;
}

int32_t USBRegReadWrite(fw_handle, uint8_t, fw_ulong, fw_ulong, uint8_t*) {
    return 0;
}

} // extern "C"
