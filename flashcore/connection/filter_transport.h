// The filter-driver path through usbgate. The filter-driver transport itself arrives with usbgate's device
// access; until then usbgate lists no filter-driver camera and every filter-driver open reports no device.
#pragma once

#include "usbgate.h"

#include <string_view>

namespace flashcore::gate {

// By-index open (under the library lock): may move the connection to another gate entry's slot.
bool openByIndex(int& slot);
bool openByPath(std::u16string_view path);
bool openByRecord(const USBDeviceInfo* record);
// Closes the slot's gate entry; true when it holds no handle.
bool closeEntry(int slot);

} // namespace flashcore::gate
