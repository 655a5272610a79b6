#include "camsim/hub.h"

#include "camsim/world.h"
#include "flashcore/bytes.h"
#include "platform/device_io.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace camsim {

namespace {

using flashcore::readLe16;
using flashcore::readLe32;
using flashcore::writeLe16;
using flashcore::writeLe32;

constexpr std::uint8_t kHubDescriptorType = 0x29;
constexpr std::uint8_t kHubClass = 0x09;
constexpr std::uint8_t kHighSpeed = 2;
constexpr int kMinimumPortCount = 4;

// The hubs from the root down: compared root first, port by port, a hub before the hubs below it.
bool rootFirstLess(const HubChain& a, const HubChain& b) {
    return std::lexicographical_compare(a.rbegin(), a.rend(), b.rbegin(), b.rend());
}

bool contains(const std::vector<HubChain>& list, const HubChain& hub) {
    return std::find(list.begin(), list.end(), hub) != list.end();
}

// The port of `hub` that a chain of ports passes through, or 0 when it does not pass through `hub`.
int portBelow(const HubChain& ports, const HubChain& hub) {
    if (ports.size() <= hub.size() || !std::equal(hub.rbegin(), hub.rend(), ports.rbegin())) return 0;
    return ports[ports.size() - hub.size() - 1];
}

// What sits on one port of a hub. A port that leads to a hub holds that hub; otherwise the first plugged
// camera attached there.
struct Occupant {
    bool isHub = false;
    Camera* camera = nullptr;
    int address = 0;
};

std::optional<Occupant> occupantOf(World& world, const HubChain& hub, int port) {
    HubChain child = hub;
    child.insert(child.begin(), port);
    const std::vector<HubChain> hubs = hubsOf(world);
    if (const auto it = std::find(hubs.begin(), hubs.end(), child); it != hubs.end())
        return Occupant{true, nullptr, static_cast<int>(it - hubs.begin())};
    const auto& cameras = world.cameras();
    for (std::size_t i = 0; i < cameras.size(); ++i)
        if (cameras[i]->plugged() && cameras[i]->config().ports == child)
            return Occupant{false, cameras[i].get(), static_cast<int>(hubs.size() + i)};
    return std::nullopt;
}

std::array<std::uint8_t, 18> hubDeviceDescriptor() {
    std::array<std::uint8_t, 18> d{};
    d[0] = platform::kDeviceDescriptorSize;
    d[1] = platform::kDeviceDescriptorType;
    writeLe16(&d[2], 0x0200);
    d[4] = kHubClass;
    d[6] = 1; // one transaction translator
    d[7] = 64;
    writeLe16(&d[platform::kDescriptorVendorId], kHubVendorId);
    writeLe16(&d[platform::kDescriptorProductId], kHubProductId);
    writeLe16(&d[platform::kDescriptorDeviceRelease], 0x0100);
    d[17] = 1;
    return d;
}

std::array<std::uint8_t, 18> occupantDescriptor(const Occupant& o) {
    return o.isHub ? hubDeviceDescriptor() : deviceDescriptor(*o.camera);
}

bool nodeInformation(World& world, const HubChain& hub, std::uint8_t* out, std::uint32_t outSize,
                     std::uint32_t& returned) {
    if (contains(world.hubFaults().failNodeInformation, hub)) return false;
    if (!out || outSize < platform::kNodeInformationSize) return false;
    const int ports = hubPortCount(world, hub);
    const int maskBytes = ports / 8 + 1; // one bit per port and one for the hub itself
    std::array<std::uint8_t, platform::kNodeInformationSize> reply{};
    // Node type 0: a hub. Then its hub descriptor: removable-device bits all clear, power-control bits set.
    reply[4] = static_cast<std::uint8_t>(7 + 2 * maskBytes);
    reply[5] = kHubDescriptorType;
    reply[platform::kNodeInformationPortCount] = static_cast<std::uint8_t>(ports);
    reply[9] = 50; // power-on to power-good: 100 ms
    std::fill_n(reply.begin() + 11 + maskBytes, maskBytes, 0xFF);
    reply[75] = hub.empty() ? 0 : 1; // external hubs are bus-powered
    std::copy(reply.begin(), reply.end(), out);
    returned = platform::kNodeInformationSize;
    return true;
}

bool connectionInformation(World& world, const HubChain& hub, const std::uint8_t* in, std::uint32_t inSize,
                           std::uint8_t* out, std::uint32_t outSize, std::uint32_t& returned) {
    if (!in || inSize < 4 || !out || outSize < platform::kConnectionHeaderSize) return false;
    const std::uint32_t port = readLe32(in + platform::kConnectionPort);
    if (port < 1 || port > static_cast<std::uint32_t>(hubPortCount(world, hub))) return false;
    std::array<std::uint8_t, platform::kConnectionHeaderSize> reply{};
    writeLe32(&reply[platform::kConnectionPort], port);
    if (const auto o = occupantOf(world, hub, static_cast<int>(port))) {
        const auto descriptor = occupantDescriptor(*o);
        std::copy(descriptor.begin(), descriptor.end(),
                  reply.begin() + platform::kConnectionDeviceDescriptor);
        reply[platform::kConnectionConfiguration] = 1;
        reply[platform::kConnectionSpeed] = kHighSpeed;
        reply[platform::kConnectionDeviceIsHub] = o->isHub ? 1 : 0;
        writeLe16(&reply[platform::kConnectionDeviceAddress], static_cast<std::uint16_t>(o->address));
        writeLe32(&reply[platform::kConnectionStatus], platform::kDeviceConnected);
    }
    std::copy(reply.begin(), reply.end(), out);
    returned = platform::kConnectionHeaderSize;
    return true;
}

bool descriptorFromPort(World& world, const HubChain& hub, const std::uint8_t* in, std::uint32_t inSize,
                        std::uint8_t* out, std::uint32_t outSize, std::uint32_t& returned) {
    constexpr std::uint32_t kHeader = platform::kDescriptorRequestReply;
    if (!in || inSize < kHeader || !out || outSize < kHeader) return false;
    std::array<std::uint8_t, kHeader> header{};
    std::copy_n(in, kHeader, header.begin());
    const std::uint32_t port = readLe32(&header[platform::kDescriptorRequestPort]);
    if (port < 1 || port > static_cast<std::uint32_t>(hubPortCount(world, hub))) return false;
    const auto o = occupantOf(world, hub, static_cast<int>(port));
    if (!o) return false;
    const std::uint16_t value = readLe16(&header[platform::kDescriptorRequestValue]);
    const std::uint8_t type = static_cast<std::uint8_t>(value >> 8);
    const std::uint8_t index = static_cast<std::uint8_t>(value);
    // A control transfer to the device on the port.
    if (o->camera) world.clock().advanceUs(o->camera->config().busTimeUs);
    std::vector<std::uint8_t> descriptor;
    if (type == platform::kDeviceDescriptorType) {
        const auto device = occupantDescriptor(*o);
        descriptor.assign(device.begin(), device.end());
    } else if (type != platform::kStringDescriptorType || !o->camera ||
               !stringDescriptor(*o->camera, index, descriptor)) {
        return false;
    }
    const std::uint32_t length =
        std::min<std::uint32_t>({static_cast<std::uint32_t>(descriptor.size()),
                                 readLe16(&header[platform::kDescriptorRequestLength]), outSize - kHeader});
    std::copy(header.begin(), header.end(), out);
    std::copy_n(descriptor.begin(), length, out + kHeader);
    returned = kHeader + length;
    return true;
}

} // namespace

std::vector<HubChain> hubsOf(const World& world) {
    std::vector<HubChain> hubs = {HubChain{}};
    for (const auto& camera : world.cameras()) {
        const HubChain& ports = camera->config().ports;
        for (std::size_t i = 1; i < ports.size(); ++i) {
            HubChain hub(ports.begin() + static_cast<std::ptrdiff_t>(i), ports.end());
            if (!contains(hubs, hub)) hubs.push_back(std::move(hub));
        }
    }
    std::sort(hubs.begin(), hubs.end(), rootFirstLess);
    return hubs;
}

std::string hubDevicePath(const HubChain& hub) {
    static constexpr std::string_view kInterfaceClass = "{f18a0e88-c30c-11d0-8815-00a0c906bed8}";
    if (hub.empty()) return "\\\\?\\usb#root_hub#4&0&0#" + std::string(kInterfaceClass);
    std::string location;
    for (auto it = hub.rbegin(); it != hub.rend(); ++it) {
        if (!location.empty()) location += '.';
        location += std::to_string(*it);
    }
    char ids[32];
    std::snprintf(ids, sizeof ids, "vid_%04x&pid_%04x", kHubVendorId, kHubProductId);
    return "\\\\?\\usb#" + std::string(ids) + "#5&" + location + "&0#" + std::string(kInterfaceClass);
}

std::optional<HubChain> hubAtPath(const World& world, std::string_view path) {
    const auto sameText = [](std::string_view a, std::string_view b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return std::tolower(static_cast<unsigned char>(x)) ==
                          std::tolower(static_cast<unsigned char>(y));
               });
    };
    for (const HubChain& hub : hubsOf(world))
        if (sameText(hubDevicePath(hub), path)) return hub;
    return std::nullopt;
}

int hubPortCount(const World& world, const HubChain& hub) {
    int count = kMinimumPortCount;
    for (const auto& camera : world.cameras())
        count = std::max(count, portBelow(camera->config().ports, hub));
    return count;
}

bool hubIoControl(World& world, const HubChain& hub, std::uint32_t code, const std::uint8_t* in,
                  std::uint32_t inSize, std::uint8_t* out, std::uint32_t outSize, std::uint32_t& returned) {
    returned = 0;
    world.hubLog().push_back(
        {hub, code, in ? std::vector<std::uint8_t>(in, in + inSize) : std::vector<std::uint8_t>{}, outSize});
    if (!contains(hubsOf(world), hub)) return false; // the hub has gone with the cameras below it
    switch (code) {
    case platform::kIoctlUsbGetNodeInformation:
        return nodeInformation(world, hub, out, outSize, returned);
    case platform::kIoctlUsbGetNodeConnectionInformationEx:
        return connectionInformation(world, hub, in, inSize, out, outSize, returned);
    case platform::kIoctlUsbGetDescriptorFromNodeConnection:
        return descriptorFromPort(world, hub, in, inSize, out, outSize, returned);
    default:
        return false;
    }
}

std::array<std::uint8_t, 18> deviceDescriptor(const Camera& camera) {
    const UsbIdentity& id = camera.identity();
    const auto& indices = camera.config().stringIndices;
    std::array<std::uint8_t, 18> d{};
    d[0] = platform::kDeviceDescriptorSize;
    d[1] = platform::kDeviceDescriptorType;
    writeLe16(&d[2], 0x0200);
    // A composite device with interface associations, as a video-class camera is.
    d[4] = 0xEF;
    d[5] = 0x02;
    d[6] = 0x01;
    d[7] = 64;
    writeLe16(&d[platform::kDescriptorVendorId], id.vendorId);
    writeLe16(&d[platform::kDescriptorProductId], id.productId);
    writeLe16(&d[platform::kDescriptorDeviceRelease], id.deviceRelease);
    d[platform::kDescriptorManufacturerIndex] = indices[0];
    d[platform::kDescriptorProductIndex] = indices[1];
    d[platform::kDescriptorSerialNumberIndex] = indices[2];
    d[17] = 1;
    return d;
}

bool stringDescriptor(Camera& camera, std::uint8_t index, std::vector<std::uint8_t>& out) {
    if (const auto it = camera.faults().stringDescriptors.find(index);
        it != camera.faults().stringDescriptors.end()) {
        out = it->second;
        return !out.empty();
    }
    if (index == 0) {
        out = {4, platform::kStringDescriptorType, 0x09, 0x04}; // US English
        return true;
    }
    // The manufacturer, product and serial number strings under the indices the device descriptor names.
    const UsbIdentity& id = camera.identity();
    const auto& indices = camera.config().stringIndices;
    const std::string* texts[3] = {&id.strings[1], &id.strings[0], &id.strings[2]};
    for (std::size_t field = 0; field < 3; ++field) {
        if (indices[field] != index) continue;
        const std::string& text = *texts[field];
        const std::size_t units = std::min<std::size_t>(text.size(), 126);
        out.assign(2 + 2 * units, 0);
        out[0] = static_cast<std::uint8_t>(out.size());
        out[1] = platform::kStringDescriptorType;
        for (std::size_t i = 0; i < units; ++i)
            out[2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
        return true;
    }
    return false;
}

} // namespace camsim
