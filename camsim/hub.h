// The virtual USB tree and its hub driver. The tree follows the attached cameras: one root hub, and an
// external hub wherever a camera's port chain passes through one. A camera's `ports` list its own port first,
// then the port of each hub above it, up to the root hub: {3, 1} is port 3 of a hub on port 1 of the root
// hub. Each hub has four ports, or as many as its highest used port. The hubs answer the three hub requests
// of the hub driver byte-exactly: node information, connection information and descriptors from a port's
// device.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace camsim {

class Camera;
class World;

// Where a hub sits: the ports from the hub up to the root hub, as a camera's `ports` list them; empty for the
// root hub.
using HubChain = std::vector<int>;

// Hub faults, by hub.
struct HubFaults {
    std::vector<HubChain> failOpen;            // opening these hubs fails
    std::vector<HubChain> failNodeInformation; // their node information request fails
};

// One request sent to a hub, as the hub driver received it.
struct HubRequest {
    HubChain hub;
    std::uint32_t code = 0;
    std::vector<std::uint8_t> in;
    std::uint32_t outSize = 0;
};

// What an external hub reports as its identity on its parent's port.
inline constexpr std::uint16_t kHubVendorId = 0xFFF1;
inline constexpr std::uint16_t kHubProductId = 0x0001;

// The hubs of the world: the root hub first, then the external hubs from the root down, by port.
std::vector<HubChain> hubsOf(const World& world);
// The hub's device-interface path, e.g. "\\?\usb#root_hub#4&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}".
std::string hubDevicePath(const HubChain& hub);
// The hub whose device-interface path is `path` (compared without regard to case), when it exists.
std::optional<HubChain> hubAtPath(const World& world, std::string_view path);
int hubPortCount(const World& world, const HubChain& hub);

// One device I/O control sent to `hub`, answered as the hub driver does and recorded in the world's hub log;
// false when the request fails.
// `in` and `out` may be the same buffer.
bool hubIoControl(World& world, const HubChain& hub, std::uint32_t code, const std::uint8_t* in,
                  std::uint32_t inSize, std::uint8_t* out, std::uint32_t outSize, std::uint32_t& returned);

// The descriptors a camera reports, from the firmware in its flash as of its last reset or plug-in.
std::array<std::uint8_t, 18> deviceDescriptor(const Camera& camera);
// String descriptor `index` (0: the language list); false when the camera stalls the request.
bool stringDescriptor(Camera& camera, std::uint8_t index, std::vector<std::uint8_t>& out);

} // namespace camsim
