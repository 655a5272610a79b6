#pragma once

#include "platform/capture.h"

namespace platform::win32 {

HResult createDeviceEnumerator(std::unique_ptr<DeviceEnumerator>& out);

} // namespace platform::win32
