// Device interfaces and device I/O as the operating system offers them: SetupAPI's device-interface
// enumeration (SetupDiGetClassDevsA, SetupDiEnumDeviceInterfaces, SetupDiGetDeviceInterfaceDetailA,
// SetupDiDestroyDeviceInfoList), device files (CreateFileA, CloseHandle) and DeviceIoControl with byte
// buffers. Each call succeeds or fails on its own, as the functions it stands for do. Also the USB hub
// driver's interface class and the three hub requests the libraries send, with their buffer layouts.
#pragma once

#include "platform/com.h"

#include <cstdint>
#include <memory>

namespace platform {

// SetupDiGetClassDevsA flags.
inline constexpr std::uint32_t kDigcfPresent = 0x02;
inline constexpr std::uint32_t kDigcfDeviceInterface = 0x10;

// CreateFileA access, share mode and creation disposition.
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kFileShareWrite = 0x00000002;
inline constexpr std::uint32_t kOpenExisting = 3;

// SP_DEVICE_INTERFACE_DETAIL_DATA_A: a 32-bit size field followed by the NUL-terminated device path. The
// caller sets the size field to the header size of the 32-bit ABI.
inline constexpr std::uint32_t kInterfaceDetailHeaderSize = 5;
inline constexpr std::uint32_t kInterfaceDetailPathOffset = 4;

// SP_DEVICE_INTERFACE_DATA of one interface in a device information set, handed back unchanged.
struct DeviceInterfaceData {
    Guid interfaceClass;
    std::uint32_t flags = 0;
    std::uintptr_t reserved = 0;
};

// A device information set (HDEVINFO); destroying the object destroys the set.
class DeviceInfoSet {
  public:
    virtual ~DeviceInfoSet() = default;
    // SetupDiEnumDeviceInterfaces(set, nullptr, interfaceClass, index, out): false past the last interface.
    virtual bool enumDeviceInterfaces(const Guid& interfaceClass, std::uint32_t index,
                                      DeviceInterfaceData& out) = 0;
    // SetupDiGetDeviceInterfaceDetailA(set, iface, detail, detailSize, requiredSize, nullptr). With a null
    // `detail` and size 0 it fails and stores the size the detail needs in `requiredSize` (when not null).
    virtual bool getDeviceInterfaceDetail(const DeviceInterfaceData& iface, std::uint8_t* detail,
                                          std::uint32_t detailSize, std::uint32_t* requiredSize) = 0;
};

// An open device file (HANDLE of CreateFileA); destroying the object closes the handle.
class DeviceFile {
  public:
    virtual ~DeviceFile() = default;
    // DeviceIoControl(handle, code, in, inSize, out, outSize, &bytesReturned, nullptr). `in` and `out` may be
    // the same buffer.
    virtual bool deviceIoControl(std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                                 std::uint8_t* out, std::uint32_t outSize, std::uint32_t& bytesReturned) = 0;
};

// The USB hub driver.
inline const Guid kUsbHubInterfaceClass = guidOf("F18A0E88-C30C-11D0-8815-00A0C906BED8");

// Node information (USB_NODE_INFORMATION): node type (4 bytes), the hub descriptor (71 bytes) whose third
// byte is the number of ports, and the bus-powered flag.
inline constexpr std::uint32_t kIoctlUsbGetNodeInformation = 0x220408;
inline constexpr std::uint32_t kNodeInformationSize = 76;
inline constexpr std::uint32_t kNodeInformationPortCount = 6;

// Connection information of one port (USB_NODE_CONNECTION_INFORMATION_EX): port number (bytes 0..3, in and
// out), the device descriptor (4..21), configuration value (22), speed (23), device-is-hub flag (24), device
// address (25..26), number of open pipes (27..30), connection status (31..34), then 11 bytes per open pipe.
inline constexpr std::uint32_t kIoctlUsbGetNodeConnectionInformationEx = 0x220448;
inline constexpr std::uint32_t kConnectionInformationSize = 365;
inline constexpr std::uint32_t kConnectionHeaderSize = 35;
inline constexpr std::uint32_t kConnectionPort = 0;
inline constexpr std::uint32_t kConnectionDeviceDescriptor = 4;
inline constexpr std::uint32_t kConnectionConfiguration = 22;
inline constexpr std::uint32_t kConnectionSpeed = 23;
inline constexpr std::uint32_t kConnectionDeviceIsHub = 24;
inline constexpr std::uint32_t kConnectionDeviceAddress = 25;
inline constexpr std::uint32_t kConnectionOpenPipes = 27;
inline constexpr std::uint32_t kConnectionStatus = 31;
inline constexpr std::uint32_t kNoDeviceConnected = 0;
inline constexpr std::uint32_t kDeviceConnected = 1;

// A descriptor from the device on one port (USB_DESCRIPTOR_REQUEST): port number (bytes 0..3), the setup
// packet (4..11: request type, request, value, index, length, 16-bit fields little-endian), then the reply.
// The bytes returned count the 12-byte header and the reply.
inline constexpr std::uint32_t kIoctlUsbGetDescriptorFromNodeConnection = 0x220410;
inline constexpr std::uint32_t kDescriptorRequestSize = 272;
inline constexpr std::uint32_t kDescriptorRequestPort = 0;
inline constexpr std::uint32_t kDescriptorRequestValue = 6;
inline constexpr std::uint32_t kDescriptorRequestLanguage = 8;
inline constexpr std::uint32_t kDescriptorRequestLength = 10;
inline constexpr std::uint32_t kDescriptorRequestReply = 12;

// USB descriptor types and the layout of a device descriptor (18 bytes, numbers little-endian).
inline constexpr std::uint8_t kDeviceDescriptorType = 1;
inline constexpr std::uint8_t kStringDescriptorType = 3;
inline constexpr std::uint32_t kDeviceDescriptorSize = 18;
inline constexpr std::uint32_t kDescriptorVendorId = 8;
inline constexpr std::uint32_t kDescriptorProductId = 10;
inline constexpr std::uint32_t kDescriptorDeviceRelease = 12;
inline constexpr std::uint32_t kDescriptorManufacturerIndex = 14;
inline constexpr std::uint32_t kDescriptorProductIndex = 15;
inline constexpr std::uint32_t kDescriptorSerialNumberIndex = 16;

static_assert(kConnectionDeviceDescriptor + kDeviceDescriptorSize == kConnectionConfiguration);
static_assert(kConnectionStatus + 4 == kConnectionHeaderSize);
static_assert(kConnectionHeaderSize + 30 * 11 == kConnectionInformationSize);
static_assert(kDescriptorRequestReply + 260 == kDescriptorRequestSize);

} // namespace platform
