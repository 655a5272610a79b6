// The platform seam: every operating-system service the libraries use, shaped like the OS calls themselves.
// platform/win32 implements it with the real Windows calls; on Linux the virtual camera (camsim) implements
// it, with the host services of platform/posix underneath.
#pragma once

#include "platform/capture.h"
#include "platform/com.h"
#include "platform/device_io.h"

#include <cstdint>
#include <memory>

namespace platform {

class Host {
  public:
    virtual ~Host() = default;

    // Kernel services.
    virtual void sleep(std::uint32_t milliseconds) = 0;
    virtual void outputDebugString(const char* text) = 0;

    // COM and the system device enumerator (CoInitialize, CoCreateInstance of CLSID_SystemDeviceEnum).
    virtual HResult coInitialize() = 0;
    virtual void coUninitialize() = 0;
    virtual HResult createDeviceEnumerator(std::unique_ptr<DeviceEnumerator>& out) = 0;

    // SetupAPI and device files (SetupDiGetClassDevsA, CreateFileA): false for an invalid set or handle.
    virtual bool getClassDevs(const Guid& interfaceClass, std::uint32_t flags,
                              std::unique_ptr<DeviceInfoSet>& out) = 0;
    virtual bool createFile(const char* path, std::uint32_t access, std::uint32_t shareMode,
                            std::uint32_t disposition, std::uint32_t flagsAndAttributes,
                            std::unique_ptr<DeviceFile>& out) = 0;
};

// The host of this process, provided by whichever side of the seam is linked in.
Host& host();

} // namespace platform
