// Opening and closing a camera: the extension-unit search and chip identification, the optional
// filter-driver path, and the open finish that installs the transport and identifies the flash.
#pragma once

#include "usbgate.h"

#include <cstdint>
#include <string_view>

namespace flashcore {

int openByIndex(int slot, int waitMs, bool skipProtectCheck);
int openByPath(std::u16string_view path, int compareLength, int waitMs, bool skipProtectCheck);
int openMulti(std::u16string_view path, int compareLength, const USBDeviceInfo* record, bool useRecord,
              int waitMs, bool skipProtectCheck);
bool closeSlot(int slot);

bool getBypassLength(int slot, std::uint32_t* length);
bool isNewSensorTable(int slot);
bool isFilterDriverOk();

} // namespace flashcore
