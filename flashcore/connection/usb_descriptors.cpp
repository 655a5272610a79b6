#include "flashcore/connection/usb_descriptors.h"

#include "flashcore/bytes.h"
#include "platform/host.h"

#include <cstring>
#include <memory>
#include <string>

namespace flashcore {

namespace {

using namespace platform;

// No hub's interface detail comes near this; a larger size from the system skips the hub.
constexpr std::uint32_t kMaxInterfaceDetailSize = 0x10000;
// The reply room of the string request: the whole request buffer after its 12-byte header.
constexpr std::uint16_t kStringReplyLength = kDescriptorRequestSize - kDescriptorRequestReply;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The four hexadecimal digits that follow `key` in the path; false when the key is missing or fewer than
// four hexadecimal digits follow it.
bool idAfter(std::string_view path, std::string_view key, std::uint16_t& id) {
    const std::size_t at = path.find(key);
    if (at == std::string_view::npos || path.size() - at - key.size() < 4) return false;
    unsigned value = 0;
    for (char c : path.substr(at + key.size(), 4)) {
        const int digit = hexDigit(c);
        if (digit < 0) return false;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    id = static_cast<std::uint16_t>(value);
    return true;
}

// The device path of one hub interface: the detail's size is asked first, then the detail is fetched into a
// buffer of that size whose size field holds the header size. Empty when either step fails.
std::string interfacePath(DeviceInfoSet& set, const DeviceInterfaceData& iface) {
    std::uint32_t required = 0;
    set.getDeviceInterfaceDetail(iface, nullptr, 0, &required); // fails by design: only the size is wanted
    if (required <= kInterfaceDetailPathOffset || required > kMaxInterfaceDetailSize) return {};
    std::vector<std::uint8_t> detail(required);
    writeLe32(detail.data(), kInterfaceDetailHeaderSize);
    if (!set.getDeviceInterfaceDetail(iface, detail.data(), required, nullptr)) return {};
    const char* text = reinterpret_cast<const char*>(detail.data() + kInterfaceDetailPathOffset);
    return std::string(text, strnlen(text, required - kInterfaceDetailPathOffset));
}

// Fetches string descriptor `index` from the device on `port` and keeps its text under that index. Index 0
// names no string; indices above 3 have no place in the record. A failed or malformed reply keeps nothing.
void fetchString(DeviceFile& hub, std::uint32_t port, std::uint8_t index, DeviceDescriptorRecord& record) {
    if (!record.stringText(index)) return;
    std::array<std::uint8_t, kDescriptorRequestSize> request{};
    writeLe32(&request[kDescriptorRequestPort], port);
    writeLe16(&request[kDescriptorRequestValue],
              static_cast<std::uint16_t>(kStringDescriptorType << 8 | index));
    writeLe16(&request[kDescriptorRequestLength], kStringReplyLength);
    std::uint32_t returned = 0;
    if (!hub.deviceIoControl(kIoctlUsbGetDescriptorFromNodeConnection, request.data(), kDescriptorRequestSize,
                             request.data(), kDescriptorRequestSize, returned))
        return;
    // A whole string descriptor: its length byte counts exactly the bytes returned after the request header,
    // covers at least its own 2-byte header, and is even.
    const std::uint8_t* reply = &request[kDescriptorRequestReply];
    const std::uint32_t length = reply[0];
    if (returned < kDescriptorRequestReply + 2 || reply[1] != kStringDescriptorType ||
        length != returned - kDescriptorRequestReply || length % 2 != 0)
        return;
    if (length > 2) record.strings[index - 1u].assign(reply + 2, reply + length);
}

// Examines one port of a hub: a connected device's identity goes into the record; when it is the camera,
// its strings are fetched too. Returns whether the camera is on the port.
bool examinePort(DeviceFile& hub, std::uint32_t port, std::uint16_t vendor, std::uint16_t product,
                 DeviceDescriptorRecord& record) {
    std::array<std::uint8_t, kConnectionInformationSize> info{};
    writeLe32(&info[kConnectionPort], port);
    std::uint32_t returned = 0;
    if (!hub.deviceIoControl(kIoctlUsbGetNodeConnectionInformationEx, info.data(), kConnectionInformationSize,
                             info.data(), kConnectionInformationSize, returned) ||
        readLe32(&info[kConnectionStatus]) == kNoDeviceConnected)
        return false;
    const std::uint8_t* descriptor = &info[kConnectionDeviceDescriptor];
    record.idVendor = readLe16(descriptor + kDescriptorVendorId);
    record.idProduct = readLe16(descriptor + kDescriptorProductId);
    record.bcdDevice = readLe16(descriptor + kDescriptorDeviceRelease);
    record.iManufacturer = descriptor[kDescriptorManufacturerIndex];
    record.iProduct = descriptor[kDescriptorProductIndex];
    record.iSerialNumber = descriptor[kDescriptorSerialNumberIndex];
    if (record.idVendor != vendor || record.idProduct != product) return false;
    fetchString(hub, port, record.iManufacturer, record);
    fetchString(hub, port, record.iProduct, record);
    fetchString(hub, port, record.iSerialNumber, record);
    return true;
}

} // namespace

bool fillDeviceDescriptors(DeviceDescriptorRecord& record, std::string_view devicePath) {
    // Every fill starts from an empty record, so a record never describes an earlier camera.
    clearDeviceDescriptors(record);
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    if (!idAfter(devicePath, "vid_", vendor) || !idAfter(devicePath, "pid_", product)) return false;

    Host& system = host();
    std::unique_ptr<DeviceInfoSet> hubs;
    if (!system.getClassDevs(kUsbHubInterfaceClass, kDigcfPresent | kDigcfDeviceInterface, hubs))
        return false;
    bool found = false;
    for (std::uint32_t i = 0; !found; ++i) {
        DeviceInterfaceData iface;
        if (!hubs->enumDeviceInterfaces(kUsbHubInterfaceClass, i, iface)) break;
        const std::string path = interfacePath(*hubs, iface);
        std::unique_ptr<DeviceFile> hub;
        if (path.empty() ||
            !system.createFile(path.c_str(), kGenericWrite, kFileShareWrite, kOpenExisting, 0, hub))
            continue;
        std::array<std::uint8_t, kNodeInformationSize> node{};
        std::uint32_t returned = 0;
        if (!hub->deviceIoControl(kIoctlUsbGetNodeInformation, node.data(), kNodeInformationSize, node.data(),
                                  kNodeInformationSize, returned))
            continue;
        const std::uint32_t ports = node[kNodeInformationPortCount];
        for (std::uint32_t port = 1; port <= ports && !found; ++port)
            found = examinePort(*hub, port, vendor, product, record);
    }
    record.found = found ? 1 : 0;
    return found;
}

void clearDeviceDescriptors(DeviceDescriptorRecord& record) {
    record = DeviceDescriptorRecord{};
}

} // namespace flashcore
