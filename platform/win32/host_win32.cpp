// The Windows side of the platform seam: the real kernel, COM and capture-stack calls.
#include "platform/host.h"
#include "platform/win32/capture_win32.h"

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
};

} // namespace

Host& host() {
    static Win32Host instance;
    return instance;
}

} // namespace platform
