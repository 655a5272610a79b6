#include "flashcore/connection/filter_transport.h"

#include "flashcore/connection/state.h"

#include <cstring>

namespace flashcore::gate {

namespace {

// Lists the filter-driver cameras; the list stays empty until usbgate reaches the filter driver.
int32_t enumerate() {
    static USBDeviceInfo list[kSlotCount];
    int32_t count = 0;
    USBEnumDevice(list, kSlotCount, &count);
    return count;
}

} // namespace

bool openByIndex(int&) {
    return enumerate() > 0 && false;
}

bool openByPath(std::u16string_view) {
    return enumerate() > 0 && false;
}

bool openByRecord(const USBDeviceInfo* record) {
    return record != nullptr && false;
}

bool closeEntry(int slot) {
    GateEntry& gate = slotState(slot).gate;
    if (gate.handle == kNoGateHandle) return true;
    if (!USBCloseDevice(reinterpret_cast<fw_handle>(gate.handle))) return false;
    gate.handle = kNoGateHandle;
    std::memset(gate.name, 0, sizeof gate.name);
    return true;
}

} // namespace flashcore::gate
