#pragma once

#include "platform/device_io.h"

namespace platform::win32 {

bool getClassDevs(const Guid& interfaceClass, std::uint32_t flags, std::unique_ptr<DeviceInfoSet>& out);
bool createFile(const char* path, std::uint32_t access, std::uint32_t shareMode, std::uint32_t disposition,
                std::uint32_t flagsAndAttributes, std::unique_ptr<DeviceFile>& out);

} // namespace platform::win32
