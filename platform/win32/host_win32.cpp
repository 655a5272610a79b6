// The Windows side of the platform seam: the real kernel, COM, capture-stack, SetupAPI and device I/O calls.
#include "platform/host.h"
#include "platform/win32/capture_win32.h"
#include "platform/win32/device_io_win32.h"

#include <objbase.h>
#include <windows.h>

namespace platform {

namespace {

class Win32Host final : public Host {
  public:
    void sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
    void outputDebugString(const char* text) override { ::OutputDebugStringA(text); }
    HResult coInitialize() override { return ::CoInitialize(nullptr); }
    void coUninitialize() override { ::CoUninitialize(); }
    HResult createDeviceEnumerator(std::unique_ptr<DeviceEnumerator>& out) override {
        return win32::createDeviceEnumerator(out);
    }
    bool getClassDevs(const Guid& interfaceClass, std::uint32_t flags,
                      std::unique_ptr<DeviceInfoSet>& out) override {
        return win32::getClassDevs(interfaceClass, flags, out);
    }
    bool createFile(const char* path, std::uint32_t access, std::uint32_t shareMode,
                    std::uint32_t disposition, std::uint32_t flagsAndAttributes,
                    std::unique_ptr<DeviceFile>& out) override {
        return win32::createFile(path, access, shareMode, disposition, flagsAndAttributes, out);
    }
};

} // namespace

Host& host() {
    static Win32Host instance;
    return instance;
}

} // namespace platform
