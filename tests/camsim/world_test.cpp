// Worlds: loading and saving world files, and the capture stack the simulated host shows the libraries
// (device enumerator, monikers, property bags, topology and kernel-streaming property calls).
#include "camsim/image_builder.h"
#include "camsim/world.h"
#include "flashcore/bytes.h"
#include "fwconfig.h"
#include "platform/host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using camsim::Camera;
using camsim::CameraConfig;
using camsim::World;
using platform::HResult;
using Bytes = std::vector<std::uint8_t>;

// A fresh directory for one test's files, removed afterwards.
class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "camsim-test-XXXXXX").string();
        if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

void writeFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

void writeFile(const fs::path& path, const Bytes& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes firmware(std::uint16_t vendorId, std::uint16_t productId) {
    camsim::ImageDescription d;
    d.vendorId = vendorId;
    d.productId = productId;
    return camsim::buildImage(d);
}

TEST(WorldFile, LoadsCamerasWithNumbersAsStringsAndFirmwareBesideTheFile) {
    TempDir dir;
    const Bytes image = firmware(0x1234, 0x5678);
    writeFile(dir.path() / "worlds" / "fw" / "cam.bin", image);
    writeFile(dir.path() / "worlds" / "two.json", R"({ "cameras": [
        { "chip": "T465M", "variant": 1, "registerMap": "A", "chipId": "0x83",
          "flashId": ["0xC2", 32, "0x11"], "flashSize": "0x20000", "firmware": "fw/cam.bin",
          "friendlyName": "Desk Camera", "filterInstance": 3, "wpPin": "1", "ports": [3, 1] },
        { "chip": "T410M", "variant": "2", "continuationBytes": 1, "idAnswers": { "0x15": ["0xC2", 32] } } ] })");

    World world;
    std::string error;
    // The firmware path is taken relative to the world file, wherever the process runs.
    ASSERT_TRUE(world.load((dir.path() / "worlds" / "two.json").string(), error)) << error;
    ASSERT_EQ(world.cameras().size(), 2u);

    const Camera& first = world.camera(0);
    EXPECT_EQ(first.config().family, 13);
    EXPECT_EQ(first.config().registerMap, 'A');
    EXPECT_EQ(first.config().chipId, 0x83);
    EXPECT_EQ(first.config().flash.manufacturer, 0xC2);
    EXPECT_EQ(first.config().flash.id1, 0x20);
    EXPECT_EQ(first.config().flash.id2, 0x11);
    EXPECT_EQ(first.flash().contents(), image);
    EXPECT_EQ(first.config().friendlyName, std::optional<std::u16string>(u"Desk Camera"));
    EXPECT_EQ(first.config().filterInstance, 3);
    EXPECT_EQ(first.config().wpPin, std::optional<int>(1));
    EXPECT_EQ(first.config().ports, (std::vector<int>{3, 1}));
    EXPECT_EQ(first.identity().vendorId, 0x1234);
    EXPECT_EQ(first.identity().productId, 0x5678);

    const Camera& second = world.camera(1);
    EXPECT_EQ(second.config().family, 1);
    EXPECT_FALSE(second.config().friendlyName.has_value()) << "no friendlyName key: the device has none";
    EXPECT_FALSE(second.config().wpPin.has_value());
    EXPECT_EQ(second.config().flash.continuationBytes, 1);
    EXPECT_EQ(second.config().flash.idAnswers.at(0x15), (Bytes{0xC2, 0x20}));
    EXPECT_EQ(second.identity().vendorId, FWT_MAKER_VENDOR_ID);
    EXPECT_EQ(second.identity().productId, 0x6362);
}

TEST(WorldFile, SaveWritesTheFlashAndTheCameraBackAsLoaded) {
    TempDir dir;
    World world;
    CameraConfig config;
    config.family = 4;
    config.registerMap = 'A';
    config.chipId = 0x92;
    config.straps = 0xE7;
    config.flash.manufacturer = 0x37;
    config.flash.id1 = 0x30;
    config.flash.id2 = 0x10;
    config.flash.continuationBytes = 1;
    config.flash.idAnswers[0x15] = {0x37, 0x30};
    config.flash.size = 0x10000;
    config.flash.status = 0x8C;
    config.firmware = {0x01, 0x02, 0x03};
    config.friendlyName.reset();
    config.filterInstance = 24;
    config.wpPin = 6;
    config.wpPinInverted = true;
    config.ports = {4, 2, 1};
    config.stringIndices = {2, 1, 0};
    config.devSpecificNode = false;
    config.extensionUnitNode = 5;
    config.memoryType = 1;
    config.sectorTableAddress = 0xA000;
    config.busTimeUs = 125;
    config.registers[0x1002] = 0x08;
    world.attach(config);
    world.attach(CameraConfig{}).flash().contents()[0x1FFFF] = 0x00;

    std::string error;
    const std::string path = (dir.path() / "saved.json").string();
    ASSERT_TRUE(world.save(path, error)) << error;

    World loaded;
    ASSERT_TRUE(loaded.load(path, error)) << error;
    ASSERT_EQ(loaded.cameras().size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const CameraConfig& want = world.camera(i).config();
        const CameraConfig& got = loaded.camera(i).config();
        EXPECT_EQ(loaded.camera(i).flash().contents(), world.camera(i).flash().contents());
        EXPECT_EQ(loaded.camera(i).flash().statusRegister(), world.camera(i).flash().statusRegister());
        EXPECT_EQ(got.family, want.family);
        EXPECT_EQ(got.registerMap, want.registerMap);
        EXPECT_EQ(got.chipId, want.chipId);
        EXPECT_EQ(got.straps, want.straps);
        EXPECT_EQ(got.flash.manufacturer, want.flash.manufacturer);
        EXPECT_EQ(got.flash.id1, want.flash.id1);
        EXPECT_EQ(got.flash.id2, want.flash.id2);
        EXPECT_EQ(got.flash.continuationBytes, want.flash.continuationBytes);
        EXPECT_EQ(got.flash.idAnswers, want.flash.idAnswers);
        EXPECT_EQ(got.flash.size, want.flash.size);
        EXPECT_EQ(got.friendlyName, want.friendlyName);
        EXPECT_EQ(got.filterInstance, want.filterInstance);
        EXPECT_EQ(got.wpPin, want.wpPin);
        EXPECT_EQ(got.wpPinInverted, want.wpPinInverted);
        EXPECT_EQ(got.ports, want.ports);
        EXPECT_EQ(got.stringIndices, want.stringIndices);
        EXPECT_EQ(got.devSpecificNode, want.devSpecificNode);
        EXPECT_EQ(got.extensionUnitNode, want.extensionUnitNode);
        EXPECT_EQ(got.memoryType, want.memoryType);
        EXPECT_EQ(got.sectorTableAddress, want.sectorTableAddress);
        EXPECT_EQ(got.busTimeUs, want.busTimeUs);
        EXPECT_EQ(got.registers, want.registers);
    }
}

TEST(WorldFile, BadFilesGiveAnErrorTextAndKeepTheWorld) {
    TempDir dir;
    struct Case {
        const char* what;
        const char* json; // nullptr: the file does not exist
    };
    const Case cases[] = {
        {"missing file", nullptr},
        {"not JSON", "{ cameras: "},
        {"no camera list", R"({ "camera": [] })"},
        {"unknown chip", R"({ "cameras": [ { "chip": "T999M" } ] })"},
        {"unknown variant", R"({ "cameras": [ { "chip": "T465M", "variant": 2 } ] })"},
        {"malformed number", R"({ "cameras": [ { "flashSize": "0x2000G" } ] })"},
        {"number out of range", R"({ "cameras": [ { "wpPin": 8 } ] })"},
        {"two flash id bytes", R"({ "cameras": [ { "flashId": [239, 48] } ] })"},
        {"fractional number", R"({ "cameras": [ { "filterInstance": 1.5 } ] })"},
        {"text where a name belongs", R"({ "cameras": [ { "friendlyName": 7 } ] })"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path path = dir.path() / (std::string(c.what) + ".json");
        if (c.json) writeFile(path, std::string(c.json));
        World world;
        world.attach(CameraConfig{});
        std::string error;
        bool loaded = true;
        EXPECT_NO_THROW(loaded = world.load(path.string(), error));
        EXPECT_FALSE(loaded);
        EXPECT_NE(error.find(path.string()), std::string::npos) << error;
        EXPECT_EQ(world.cameras().size(), 1u);
    }
}

// The capture stack through the platform seam, on the process-wide world.
class SimulatedHost : public testing::Test {
  protected:
    void SetUp() override { World::global().clear(); }
    void TearDown() override { World::global().clear(); }

    // The monikers of the video capture category, as the system enumerator lists them.
    std::vector<std::unique_ptr<platform::DeviceMoniker>> monikers() {
        std::unique_ptr<platform::DeviceEnumerator> devices;
        EXPECT_EQ(platform::host().createDeviceEnumerator(devices), platform::kOk);
        std::unique_ptr<platform::MonikerEnumerator> list;
        const HResult hr = devices->createVideoInputEnumerator(list);
        std::vector<std::unique_ptr<platform::DeviceMoniker>> out;
        if (hr == platform::kFalse) {
            EXPECT_EQ(list, nullptr);
            return out;
        }
        EXPECT_EQ(hr, platform::kOk);
        std::unique_ptr<platform::DeviceMoniker> m;
        while (list->next(m) == platform::kOk)
            out.push_back(std::move(m));
        return out;
    }

    static std::unique_ptr<platform::KsControl> nodeControl(platform::DeviceMoniker& moniker,
                                                            std::uint32_t node) {
        std::unique_ptr<platform::CaptureFilter> filter;
        EXPECT_EQ(moniker.bindToObject(filter), platform::kOk);
        std::unique_ptr<platform::TopologyInfo> topology;
        EXPECT_EQ(filter->queryTopologyInfo(topology), platform::kOk);
        std::unique_ptr<platform::KsControl> control;
        EXPECT_EQ(topology->createNodeControl(node, control), platform::kOk);
        return control;
    }

    // A KSP_NODE: property set, property id, flags, node id, reserved.
    static Bytes request(std::uint32_t id, std::uint32_t flags, std::uint32_t node,
                         const char* set = FWT_VENDOR_PROPERTY_SET_TEXT) {
        Bytes r(platform::kKsNodeRequestSize, 0x00);
        const platform::Guid guid = platform::guidOf(set);
        std::copy(guid.bytes.begin(), guid.bytes.end(), r.begin());
        flashcore::writeLe32(&r[16], id);
        flashcore::writeLe32(&r[20], flags);
        flashcore::writeLe32(&r[24], node);
        return r;
    }
    static HResult call(platform::KsControl& control, const Bytes& req, Bytes& data) {
        std::uint32_t returned = 0;
        return control.property(req.data(), static_cast<std::uint32_t>(req.size()), data.data(),
                                static_cast<std::uint32_t>(data.size()), returned);
    }

    static constexpr std::uint32_t kSet = platform::kKsPropertySet | platform::kKsPropertyTopology;
    static constexpr std::uint32_t kGet = platform::kKsPropertyGet | platform::kKsPropertyTopology;
    static constexpr std::uint32_t kSetSupport =
        platform::kKsPropertySetSupport | platform::kKsPropertyTopology;
};

TEST_F(SimulatedHost, ListsCapturedDevicesWithTheirPropertyBags) {
    CameraConfig named;
    named.firmware = firmware(0x1234, 0x0A01);
    named.ports = {3, 1};
    CameraConfig unnamed;
    unnamed.friendlyName.reset();
    World::global().attach(named);
    World::global().attach(unnamed);

    const auto list = monikers();
    ASSERT_EQ(list.size(), 2u);
    std::unique_ptr<platform::PropertyBag> bag;
    ASSERT_EQ(list[0]->bindToStorage(bag), platform::kOk);
    std::u16string value;
    ASSERT_EQ(bag->readString(u"FriendlyName", value), platform::kOk);
    EXPECT_EQ(value, u"USB Camera");
    ASSERT_EQ(bag->readString(u"DevicePath", value), platform::kOk);
    EXPECT_NE(value.find(u"vid_1234&pid_0a01"), std::u16string::npos)
        << std::string(value.begin(), value.end());

    ASSERT_EQ(list[1]->bindToStorage(bag), platform::kOk);
    EXPECT_TRUE(platform::failed(bag->readString(u"FriendlyName", value)));
    ASSERT_EQ(bag->readString(u"DevicePath", value), platform::kOk);
    EXPECT_NE(value.find(u"vid_fff0&pid_6362"), std::u16string::npos);

    World::global().camera(0).faults().failPropertyBag = true;
    EXPECT_TRUE(platform::failed(list[0]->bindToStorage(bag)));
}

TEST_F(SimulatedHost, ExtensionUnitAnswersTheVendorPropertySetOnItsNodeOnly) {
    World::global().attach(CameraConfig{});
    const auto list = monikers();
    ASSERT_EQ(list.size(), 1u);

    std::unique_ptr<platform::CaptureFilter> filter;
    ASSERT_EQ(list[0]->bindToObject(filter), platform::kOk);
    std::unique_ptr<platform::TopologyInfo> topology;
    ASSERT_EQ(filter->queryTopologyInfo(topology), platform::kOk);
    std::uint32_t count = 0;
    ASSERT_EQ(topology->nodeCount(count), platform::kOk);
    std::vector<std::uint32_t> vendorNodes;
    for (std::uint32_t i = 0; i < count; ++i) {
        platform::Guid type;
        ASSERT_EQ(topology->nodeType(i, type), platform::kOk);
        if (type == platform::kNodeTypeDevSpecific) vendorNodes.push_back(i);
    }
    ASSERT_EQ(vendorNodes, (std::vector<std::uint32_t>{2}));

    auto control = nodeControl(*list[0], 2);
    Bytes none;
    EXPECT_EQ(call(*control, request(0, kSetSupport, 2), none), platform::kOk);
    EXPECT_TRUE(platform::failed(call(*control, request(0, kSetSupport, 1), none)));

    // Register 0x101F through the seam: set 1F 10 00 FF, then a get answering 0xAA in byte 2.
    Bytes data = {0x1F, 0x10, 0x00, 0xFF};
    EXPECT_EQ(call(*control, request(1, kSet, 2), data), platform::kOk);
    data.assign(4, 0x00);
    EXPECT_EQ(call(*control, request(1, kGet, 2), data), platform::kOk);
    EXPECT_EQ(data, (Bytes{0x00, 0x00, 0xAA, 0x00}));

    EXPECT_TRUE(platform::failed(call(*control, request(1, kGet, 1), data))) << "wrong node";
    EXPECT_TRUE(
        platform::failed(call(*control, request(1, kGet, 2, "00000000-0000-0000-0000-000000000001"), data)))
        << "another property set";
    Bytes shortRequest = request(1, kGet, 2);
    shortRequest.resize(24);
    EXPECT_TRUE(platform::failed(call(*control, shortRequest, data)));
    EXPECT_EQ(World::global().camera(0).counters().transfers, 2u)
        << "refused requests never reach the camera";
}

TEST_F(SimulatedHost, CameraWithoutVendorNodeStillAnswersOnItsUnitNumber) {
    CameraConfig config;
    config.devSpecificNode = false;
    World::global().attach(config);
    const auto list = monikers();
    ASSERT_EQ(list.size(), 1u);
    std::unique_ptr<platform::CaptureFilter> filter;
    ASSERT_EQ(list[0]->bindToObject(filter), platform::kOk);
    std::unique_ptr<platform::TopologyInfo> topology;
    ASSERT_EQ(filter->queryTopologyInfo(topology), platform::kOk);
    std::uint32_t count = 0;
    ASSERT_EQ(topology->nodeCount(count), platform::kOk);
    for (std::uint32_t i = 0; i < count; ++i) {
        platform::Guid type;
        ASSERT_EQ(topology->nodeType(i, type), platform::kOk);
        EXPECT_NE(type, platform::kNodeTypeDevSpecific) << "node " << i;
    }

    std::unique_ptr<platform::KsControl> control;
    ASSERT_EQ(filter->queryKsControl(control), platform::kOk);
    Bytes data(4, 0x00);
    EXPECT_TRUE(platform::failed(call(*control, request(5, kGet, 1), data)));
    data.assign(12, 0x00);
    EXPECT_EQ(call(*control, request(5, kGet, 2), data), platform::kOk);
    EXPECT_EQ(data[1], 0x90);
}

TEST_F(SimulatedHost, UnpluggedCameraLeavesTheDeviceList) {
    World::global().attach(CameraConfig{});
    World::global().attach(CameraConfig{}).faults().unplugAtTransfer = 1;
    auto list = monikers();
    ASSERT_EQ(list.size(), 2u);
    auto control = nodeControl(*list[1], 2);
    Bytes data(12, 0x00);
    EXPECT_TRUE(platform::failed(call(*control, request(5, kGet, 2), data)));
    EXPECT_FALSE(World::global().camera(1).plugged());

    EXPECT_EQ(monikers().size(), 1u);
    std::unique_ptr<platform::CaptureFilter> filter;
    EXPECT_TRUE(platform::failed(list[1]->bindToObject(filter)));
    EXPECT_TRUE(platform::failed(call(*control, request(5, kGet, 2), data)));

    // The last camera gone: the category is empty (S_FALSE, no enumerator).
    World::global().camera(0).unplug();
    EXPECT_TRUE(monikers().empty());
}

TEST_F(SimulatedHost, DetachedCameraFailsLikeAnUnpluggedOne) {
    World::global().attach(CameraConfig{});
    auto list = monikers();
    auto control = nodeControl(*list[0], 2);
    World::global().clear();
    Bytes data(12, 0x00);
    EXPECT_TRUE(platform::failed(call(*control, request(5, kGet, 2), data)));
    std::unique_ptr<platform::PropertyBag> bag;
    EXPECT_TRUE(platform::failed(list[0]->bindToStorage(bag)));
}

TEST_F(SimulatedHost, SleepAdvancesTheVirtualClock) {
    const std::uint64_t before = World::global().clock().nowUs();
    platform::host().sleep(1500);
    EXPECT_EQ(World::global().clock().nowUs(), before + 1'500'000);
}

} // namespace
