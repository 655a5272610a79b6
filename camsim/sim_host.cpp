// The Linux side of the platform seam: the capture stack, the hub driver and the kernel services answered by
// the virtual world. Every COM-shaped object holds its camera weakly, so a camera detached by a test makes
// later calls fail as an unplugged device would, never dangle.
#include "camsim/world.h"
#include "fwconfig.h"
#include "platform/host.h"
#include "platform/posix/host_posix.h"

#include "flashcore/bytes.h"

#include <algorithm>

namespace camsim {

namespace {

using platform::HResult;

const platform::Guid& vendorPropertySet() {
    static const platform::Guid set = platform::guidOf(FWT_VENDOR_PROPERTY_SET_TEXT);
    return set;
}

constexpr HResult kDeviceGone = static_cast<HResult>(0x8007001Fu);
constexpr HResult kSetNotFound = static_cast<HResult>(0x80070492u);
constexpr HResult kInvalidArgument = static_cast<HResult>(0x80070057u);

class SimKsControl final : public platform::KsControl {
  public:
    explicit SimKsControl(std::weak_ptr<Camera> camera) : camera_(std::move(camera)) {}
    HResult property(const std::uint8_t* request, std::uint32_t requestLength, std::uint8_t* data,
                     std::uint32_t dataLength, std::uint32_t& bytesReturned) override {
        bytesReturned = 0;
        auto camera = camera_.lock();
        if (!camera || !camera->plugged()) return kDeviceGone;
        if (!request || requestLength < platform::kKsNodeRequestSize) return kInvalidArgument;
        platform::Guid set;
        std::copy_n(request, 16, set.bytes.begin());
        if (set != vendorPropertySet()) return kSetNotFound;
        const std::uint32_t id = flashcore::readLe32(request + 16);
        const std::uint32_t flags = flashcore::readLe32(request + 20);
        const std::uint32_t node = flashcore::readLe32(request + 24);
        if ((flags & platform::kKsPropertyTopology) == 0) return kInvalidArgument;
        if (flags & platform::kKsPropertySetSupport)
            return node == camera->config().extensionUnitNode ? platform::kOk : platform::kNotFound;
        if (!data && dataLength > 0) return kInvalidArgument;
        const bool isSet = (flags & platform::kKsPropertySet) != 0;
        if (!isSet && (flags & platform::kKsPropertyGet) == 0) return kInvalidArgument;
        return camera->property(id, isSet, node, data, dataLength, bytesReturned);
    }

  private:
    std::weak_ptr<Camera> camera_;
};

class SimTopologyInfo final : public platform::TopologyInfo {
  public:
    explicit SimTopologyInfo(std::weak_ptr<Camera> camera) : camera_(std::move(camera)) {}
    HResult nodeCount(std::uint32_t& count) override {
        auto camera = camera_.lock();
        if (!camera) return kDeviceGone;
        count = static_cast<std::uint32_t>(camera->topologyNodeTypes().size());
        return platform::kOk;
    }
    HResult nodeType(std::uint32_t node, platform::Guid& type) override {
        auto camera = camera_.lock();
        if (!camera) return kDeviceGone;
        const auto types = camera->topologyNodeTypes();
        if (node >= types.size()) return kInvalidArgument;
        type = types[node];
        return platform::kOk;
    }
    HResult createNodeControl(std::uint32_t node, std::unique_ptr<platform::KsControl>& out) override {
        auto camera = camera_.lock();
        if (!camera) return kDeviceGone;
        if (node >= camera->topologyNodeTypes().size()) return kInvalidArgument;
        out = std::make_unique<SimKsControl>(camera_);
        return platform::kOk;
    }

  private:
    std::weak_ptr<Camera> camera_;
};

class SimCaptureFilter final : public platform::CaptureFilter {
  public:
    explicit SimCaptureFilter(std::weak_ptr<Camera> camera) : camera_(std::move(camera)) {}
    HResult queryTopologyInfo(std::unique_ptr<platform::TopologyInfo>& out) override {
        out = std::make_unique<SimTopologyInfo>(camera_);
        return platform::kOk;
    }
    HResult queryKsControl(std::unique_ptr<platform::KsControl>& out) override {
        out = std::make_unique<SimKsControl>(camera_);
        return platform::kOk;
    }

  private:
    std::weak_ptr<Camera> camera_;
};

class SimPropertyBag final : public platform::PropertyBag {
  public:
    explicit SimPropertyBag(std::weak_ptr<Camera> camera) : camera_(std::move(camera)) {}
    HResult readString(std::u16string_view name, std::u16string& value) override {
        auto camera = camera_.lock();
        if (!camera) return kDeviceGone;
        if (name == u"DevicePath") {
            value = camera->devicePath();
            return platform::kOk;
        }
        if (name == u"FriendlyName" && camera->config().friendlyName) {
            value = *camera->config().friendlyName;
            return platform::kOk;
        }
        return static_cast<HResult>(0x80070002u); // the value does not exist
    }

  private:
    std::weak_ptr<Camera> camera_;
};

class SimMoniker final : public platform::DeviceMoniker {
  public:
    explicit SimMoniker(std::weak_ptr<Camera> camera) : camera_(std::move(camera)) {}
    HResult bindToStorage(std::unique_ptr<platform::PropertyBag>& out) override {
        auto camera = camera_.lock();
        if (!camera || camera->faults().failPropertyBag) return platform::kFail;
        out = std::make_unique<SimPropertyBag>(camera_);
        return platform::kOk;
    }
    HResult bindToObject(std::unique_ptr<platform::CaptureFilter>& out) override {
        auto camera = camera_.lock();
        if (!camera || !camera->plugged()) return kDeviceGone;
        out = std::make_unique<SimCaptureFilter>(camera_);
        return platform::kOk;
    }

  private:
    std::weak_ptr<Camera> camera_;
};

class SimMonikerEnumerator final : public platform::MonikerEnumerator {
  public:
    explicit SimMonikerEnumerator(std::vector<std::weak_ptr<Camera>> cameras)
        : cameras_(std::move(cameras)) {}
    HResult reset() override {
        next_ = 0;
        return platform::kOk;
    }
    HResult next(std::unique_ptr<platform::DeviceMoniker>& out) override {
        if (next_ >= cameras_.size()) return platform::kFalse;
        out = std::make_unique<SimMoniker>(cameras_[next_++]);
        return platform::kOk;
    }

  private:
    std::vector<std::weak_ptr<Camera>> cameras_;
    std::size_t next_ = 0;
};

class SimDeviceEnumerator final : public platform::DeviceEnumerator {
  public:
    explicit SimDeviceEnumerator(World& world) : world_(world) {}
    HResult createVideoInputEnumerator(std::unique_ptr<platform::MonikerEnumerator>& out) override {
        std::vector<std::weak_ptr<Camera>> present;
        for (const auto& camera : world_.cameras())
            if (camera->plugged()) present.push_back(camera);
        // An empty category answers S_FALSE without an enumerator, as the system enumerator does.
        if (present.empty()) return platform::kFalse;
        out = std::make_unique<SimMonikerEnumerator>(std::move(present));
        return platform::kOk;
    }

  private:
    World& world_;
};

// A device information set: the interfaces of one class present when the set was made. Only the hub
// interface class has interfaces; every other class yields an empty set.
class SimDeviceInfoSet final : public platform::DeviceInfoSet {
  public:
    SimDeviceInfoSet(const platform::Guid& interfaceClass, std::vector<std::string> paths)
        : class_(interfaceClass), paths_(std::move(paths)) {}
    bool enumDeviceInterfaces(const platform::Guid& interfaceClass, std::uint32_t index,
                              platform::DeviceInterfaceData& out) override {
        if (interfaceClass != class_ || index >= paths_.size()) return false;
        out.interfaceClass = class_;
        out.flags = 1; // active
        out.reserved = index + 1;
        return true;
    }
    bool getDeviceInterfaceDetail(const platform::DeviceInterfaceData& iface, std::uint8_t* detail,
                                  std::uint32_t detailSize, std::uint32_t* requiredSize) override {
        if (iface.reserved == 0 || iface.reserved > paths_.size()) return false;
        const std::string& path = paths_[iface.reserved - 1];
        const auto needed =
            static_cast<std::uint32_t>(platform::kInterfaceDetailPathOffset + path.size() + 1);
        if (requiredSize) *requiredSize = needed;
        if (!detail || detailSize < needed) return false; // the buffer is too small
        // The size field must hold the header size of the 32-bit ABI.
        if (flashcore::readLe32(detail) != platform::kInterfaceDetailHeaderSize) return false;
        std::copy(path.begin(), path.end(), detail + platform::kInterfaceDetailPathOffset);
        detail[needed - 1] = 0;
        return true;
    }

  private:
    platform::Guid class_;
    std::vector<std::string> paths_;
};

// An open hub: its requests go to the hub driver of the world's USB tree, as long as the hub is there.
class SimHubFile final : public platform::DeviceFile {
  public:
    explicit SimHubFile(HubChain hub) : hub_(std::move(hub)) {}
    bool deviceIoControl(std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                         std::uint32_t outSize, std::uint32_t& bytesReturned) override {
        return hubIoControl(World::global(), hub_, code, in, inSize, out, outSize, bytesReturned);
    }

  private:
    HubChain hub_;
};

class SimHost final : public platform::Host {
  public:
    void sleep(std::uint32_t milliseconds) override {
        World::global().clock().advanceUs(std::uint64_t{milliseconds} * 1000);
    }
    void outputDebugString(const char* text) override {
        World::global().debugOutput().emplace_back(text ? text : "");
        platform::posix::debugOutput(text);
    }
    HResult coInitialize() override {
        World::global().enterComApartment();
        return platform::kOk;
    }
    void coUninitialize() override { World::global().leaveComApartment(); }
    HResult createDeviceEnumerator(std::unique_ptr<platform::DeviceEnumerator>& out) override {
        out = std::make_unique<SimDeviceEnumerator>(World::global());
        return platform::kOk;
    }
    bool getClassDevs(const platform::Guid& interfaceClass, std::uint32_t flags,
                      std::unique_ptr<platform::DeviceInfoSet>& out) override {
        std::vector<std::string> paths;
        if (interfaceClass == platform::kUsbHubInterfaceClass && (flags & platform::kDigcfDeviceInterface))
            for (const HubChain& hub : hubsOf(World::global()))
                paths.push_back(hubDevicePath(hub));
        out = std::make_unique<SimDeviceInfoSet>(interfaceClass, std::move(paths));
        return true;
    }
    bool createFile(const char* path, std::uint32_t, std::uint32_t, std::uint32_t disposition, std::uint32_t,
                    std::unique_ptr<platform::DeviceFile>& out) override {
        if (!path || disposition != platform::kOpenExisting) return false;
        const World& world = World::global();
        const auto hub = hubAtPath(world, path);
        if (!hub) return false;
        const auto& failing = world.hubFaults().failOpen;
        if (std::find(failing.begin(), failing.end(), *hub) != failing.end()) return false;
        out = std::make_unique<SimHubFile>(*hub);
        return true;
    }
};

} // namespace

} // namespace camsim

platform::Host& platform::host() {
    static camsim::SimHost instance;
    return instance;
}
