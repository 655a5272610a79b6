// Device interfaces and device I/O on Windows: SetupAPI's device information sets, device files opened with
// CreateFileA and DeviceIoControl. Each wrapper owns its set or handle and releases it.
#include "platform/win32/device_io_win32.h"
#include "platform/win32/guid_win32.h"

#include <windows.h>

#include <setupapi.h>

#include <cstring>

namespace platform::win32 {

namespace {

SP_DEVICE_INTERFACE_DATA toInterfaceData(const DeviceInterfaceData& iface) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    data.InterfaceClassGuid = toGuid(iface.interfaceClass);
    data.Flags = iface.flags;
    data.Reserved = iface.reserved;
    return data;
}

class Win32DeviceInfoSet final : public DeviceInfoSet {
  public:
    explicit Win32DeviceInfoSet(HDEVINFO set) : set_(set) {}
    ~Win32DeviceInfoSet() override { ::SetupDiDestroyDeviceInfoList(set_); }
    Win32DeviceInfoSet(const Win32DeviceInfoSet&) = delete;
    Win32DeviceInfoSet& operator=(const Win32DeviceInfoSet&) = delete;

    bool enumDeviceInterfaces(const Guid& interfaceClass, std::uint32_t index,
                              DeviceInterfaceData& out) override {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        const GUID cls = toGuid(interfaceClass);
        if (!::SetupDiEnumDeviceInterfaces(set_, nullptr, &cls, index, &data)) return false;
        std::memcpy(out.interfaceClass.bytes.data(), &data.InterfaceClassGuid, 16);
        out.flags = data.Flags;
        out.reserved = data.Reserved;
        return true;
    }

    bool getDeviceInterfaceDetail(const DeviceInterfaceData& iface, std::uint8_t* detail,
                                  std::uint32_t detailSize, std::uint32_t* requiredSize) override {
        SP_DEVICE_INTERFACE_DATA data = toInterfaceData(iface);
        // The size field names this process's header size: the 32-bit ABI's 5, or 8 on 64-bit Windows.
        constexpr DWORD kNativeHeaderSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (detail && detailSize >= kNativeHeaderSize) {
            const DWORD size = kNativeHeaderSize;
            std::memcpy(detail, &size, sizeof size);
        }
        DWORD required = 0;
        const BOOL ok = ::SetupDiGetDeviceInterfaceDetailA(
            set_, &data, reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(detail), detailSize, &required,
            nullptr);
        if (requiredSize) *requiredSize = required;
        return ok != FALSE;
    }

  private:
    HDEVINFO set_;
};

class Win32DeviceFile final : public DeviceFile {
  public:
    explicit Win32DeviceFile(HANDLE handle) : handle_(handle) {}
    ~Win32DeviceFile() override { ::CloseHandle(handle_); }
    Win32DeviceFile(const Win32DeviceFile&) = delete;
    Win32DeviceFile& operator=(const Win32DeviceFile&) = delete;

    bool deviceIoControl(std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                         std::uint32_t outSize, std::uint32_t& bytesReturned) override {
        DWORD returned = 0;
        const BOOL ok = ::DeviceIoControl(handle_, code, const_cast<std::uint8_t*>(in), inSize, out, outSize,
                                          &returned, nullptr);
        bytesReturned = returned;
        return ok != FALSE;
    }

  private:
    HANDLE handle_;
};

} // namespace

bool getClassDevs(const Guid& interfaceClass, std::uint32_t flags, std::unique_ptr<DeviceInfoSet>& out) {
    const GUID cls = toGuid(interfaceClass);
    const HDEVINFO set = ::SetupDiGetClassDevsA(&cls, nullptr, nullptr, flags);
    if (set == INVALID_HANDLE_VALUE) return false;
    out = std::make_unique<Win32DeviceInfoSet>(set);
    return true;
}

bool createFile(const char* path, std::uint32_t access, std::uint32_t shareMode, std::uint32_t disposition,
                std::uint32_t flagsAndAttributes, std::unique_ptr<DeviceFile>& out) {
    const HANDLE handle =
        ::CreateFileA(path, access, shareMode, nullptr, disposition, flagsAndAttributes, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    out = std::make_unique<Win32DeviceFile>(handle);
    return true;
}

} // namespace platform::win32
