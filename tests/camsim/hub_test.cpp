// The virtual USB tree: which hubs exist, and the byte-exact answers of the hub driver's node information,
// connection information and descriptor requests; then the same hubs through the simulated host's SetupAPI
// and device files.
#include "camsim/hub.h"
#include "camsim/image_builder.h"
#include "camsim/world.h"
#include "flashcore/bytes.h"
#include "fwconfig.h"
#include "platform/host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using camsim::CameraConfig;
using camsim::HubChain;
using camsim::World;
using Bytes = std::vector<std::uint8_t>;

Bytes firmware() {
    camsim::ImageDescription d;
    d.vendorId = 0x1234;
    d.productId = 0x5678;
    d.bcdDevice = 0x0102;
    d.product = "Cam";
    d.manufacturer = "Maker";
    d.serialNumber = "SN7";
    return camsim::buildImage(d);
}

CameraConfig cameraAt(std::vector<int> ports, Bytes image = firmware()) {
    CameraConfig c;
    c.ports = std::move(ports);
    c.firmware = std::move(image);
    c.busTimeUs = 250;
    return c;
}

// UTF-16LE string descriptor of an 8-bit text.
Bytes stringDescriptor(const std::string& text) {
    Bytes d = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        d.push_back(static_cast<std::uint8_t>(c));
        d.push_back(0);
    }
    return d;
}

// One request with the same buffer in and out, as the libraries send them.
bool request(World& world, const HubChain& hub, std::uint32_t code, Bytes& buffer, std::uint32_t& returned) {
    return camsim::hubIoControl(world, hub, code, buffer.data(), static_cast<std::uint32_t>(buffer.size()),
                                buffer.data(), static_cast<std::uint32_t>(buffer.size()), returned);
}

Bytes connectionInformation(World& world, const HubChain& hub, std::uint32_t port, bool& ok) {
    Bytes buffer(platform::kConnectionInformationSize, 0xEE);
    flashcore::writeLe32(buffer.data(), port);
    std::uint32_t returned = 0;
    ok = request(world, hub, platform::kIoctlUsbGetNodeConnectionInformationEx, buffer, returned);
    if (ok) {
        EXPECT_EQ(returned, platform::kConnectionHeaderSize);
    }
    EXPECT_TRUE(std::all_of(buffer.begin() + platform::kConnectionHeaderSize, buffer.end(),
                            [](std::uint8_t b) { return b == 0xEE; }))
        << "the reply stays within its header";
    return Bytes(buffer.begin(), buffer.begin() + platform::kConnectionHeaderSize);
}

// A descriptor request for (type << 8 | index) with reply room `length`; the reply bytes, or nullopt.
std::optional<Bytes> descriptorRequest(World& world, const HubChain& hub, std::uint32_t port,
                                       std::uint16_t value, std::uint16_t length) {
    Bytes buffer(platform::kDescriptorRequestSize, 0x00);
    flashcore::writeLe32(&buffer[0], port);
    flashcore::writeLe16(&buffer[platform::kDescriptorRequestValue], value);
    flashcore::writeLe16(&buffer[platform::kDescriptorRequestLength], length);
    const Bytes header(buffer.begin(), buffer.begin() + 12);
    std::uint32_t returned = 0;
    if (!request(world, hub, platform::kIoctlUsbGetDescriptorFromNodeConnection, buffer, returned))
        return std::nullopt;
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 12), header) << "the request header comes back";
    EXPECT_GE(returned, 12u);
    return Bytes(buffer.begin() + 12, buffer.begin() + returned);
}

TEST(HubTree, HubsFollowThePortChainsOfTheCameras) {
    World world;
    world.attach(cameraAt({2}));
    world.attach(cameraAt({3, 1}));
    world.attach(cameraAt({6, 2, 1}));
    world.attach(cameraAt({1, 4}));
    const std::vector<HubChain> hubs = camsim::hubsOf(world);
    EXPECT_EQ(hubs, (std::vector<HubChain>{{}, {1}, {2, 1}, {4}}));

    EXPECT_EQ(camsim::hubDevicePath({}), "\\\\?\\usb#root_hub#4&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
    EXPECT_EQ(camsim::hubDevicePath({2, 1}),
              "\\\\?\\usb#vid_fff1&pid_0001#5&1.2&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}");
    EXPECT_EQ(camsim::hubAtPath(
                  world, "\\\\?\\USB#VID_FFF1&PID_0001#5&1.2&0#{F18A0E88-C30C-11D0-8815-00A0C906BED8}"),
              (HubChain{2, 1}));
    EXPECT_FALSE(camsim::hubAtPath(
        world, "\\\\?\\usb#vid_fff1&pid_0001#5&3&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}"));

    EXPECT_EQ(camsim::hubPortCount(world, {}), 4);
    EXPECT_EQ(camsim::hubPortCount(world, {2, 1}), 6) << "as many ports as the highest one used";

    world.clear();
    EXPECT_EQ(camsim::hubsOf(world), (std::vector<HubChain>{{}})) << "the root hub stays";
}

TEST(HubDriver, NodeInformationCarriesTheHubDescriptor) {
    World world;
    world.attach(cameraAt({2}));
    world.attach(cameraAt({9, 1}));
    struct Case {
        HubChain hub;
        std::uint8_t ports;
        std::uint8_t maskBytes;
        std::uint8_t busPowered;
    };
    for (const Case& c : {Case{{}, 4, 1, 0}, Case{{1}, 9, 2, 1}}) {
        SCOPED_TRACE(c.hub.size());
        Bytes want(platform::kNodeInformationSize, 0x00);
        want[4] = static_cast<std::uint8_t>(7 + 2 * c.maskBytes);
        want[5] = 0x29;
        want[6] = c.ports;
        want[9] = 50;
        for (int i = 0; i < c.maskBytes; ++i)
            want[static_cast<std::size_t>(11 + c.maskBytes + i)] = 0xFF;
        want[75] = c.busPowered;
        Bytes buffer(platform::kNodeInformationSize, 0xEE);
        std::uint32_t returned = 0;
        ASSERT_TRUE(request(world, c.hub, platform::kIoctlUsbGetNodeInformation, buffer, returned));
        EXPECT_EQ(returned, platform::kNodeInformationSize);
        EXPECT_EQ(buffer, want);
    }

    Bytes small(platform::kNodeInformationSize - 1, 0x00);
    std::uint32_t returned = 0;
    EXPECT_FALSE(request(world, {}, platform::kIoctlUsbGetNodeInformation, small, returned));
    world.hubFaults().failNodeInformation = {{1}};
    Bytes buffer(platform::kNodeInformationSize, 0x00);
    EXPECT_FALSE(request(world, {1}, platform::kIoctlUsbGetNodeInformation, buffer, returned));
    EXPECT_TRUE(request(world, {}, platform::kIoctlUsbGetNodeInformation, buffer, returned));
    EXPECT_FALSE(request(world, {}, 0x220400, buffer, returned)) << "an unknown request";
}

TEST(HubDriver, ConnectionInformationOfEachPort) {
    World world;
    world.attach(cameraAt({2}));               // address 2: after the root hub and the hub on port 1
    world.attach(cameraAt({3, 1}));            // makes the hub on port 1 (address 1)
    world.attach(cameraAt({3})).unplug();      // an unplugged camera leaves its port empty
    const Bytes camera = {0x02, 0,    0,    0, // port
                          18,   1,    0x00, 0x02, 0xEF, 0x02, 0x01, 64,       // device descriptor
                          0x34, 0x12, 0x78, 0x56, 0x02, 0x01, 1,    2,  3, 1, //
                          1,    2,    0,    2,    0,    0,    0,    0,  0, 1, 0, 0, 0};
    const Bytes hub = {0x01, 0,    0,    0,    18,   1,    0x00, 0x02, 0x09, 0x00, 0x01, 64,
                       0xF1, 0xFF, 0x01, 0x00, 0x00, 0x01, 0,    0,    0,    1,    1,    2,
                       1,    1,    0,    0,    0,    0,    0,    1,    0,    0,    0};
    bool ok = false;
    EXPECT_EQ(connectionInformation(world, {}, 2, ok), camera);
    EXPECT_TRUE(ok);
    EXPECT_EQ(connectionInformation(world, {}, 1, ok), hub);
    EXPECT_TRUE(ok);
    for (std::uint32_t port : {3u, 4u}) {
        Bytes empty(platform::kConnectionHeaderSize, 0x00);
        empty[0] = static_cast<std::uint8_t>(port);
        EXPECT_EQ(connectionInformation(world, {}, port, ok), empty) << port;
        EXPECT_TRUE(ok);
    }
    for (std::uint32_t port : {0u, 5u}) {
        connectionInformation(world, {}, port, ok);
        EXPECT_FALSE(ok) << port;
    }
}

TEST(HubDriver, DescriptorsKeyedByTheIndicesTheDeviceDescriptorNames) {
    World world;
    CameraConfig config = cameraAt({1, 2});
    config.stringIndices = {2, 1, 0}; // manufacturer under 2, product under 1, no serial number
    camsim::Camera& camera = world.attach(config);
    const Bytes device = {18,   1,    0x00, 0x02, 0xEF, 0x02, 0x01, 64, 0x34,
                          0x12, 0x78, 0x56, 0x02, 0x01, 2,    1,    0,  1};
    struct Case {
        std::uint16_t value;
        std::uint16_t length;
        std::optional<Bytes> reply;
    };
    const Case cases[] = {
        {0x0302, 260, stringDescriptor("Maker")},
        {0x0301, 260, stringDescriptor("Cam")},
        {0x0301, 4, Bytes{8, 3, 'C', 0}},       // the reply room cuts the descriptor
        {0x0300, 260, Bytes{4, 3, 0x09, 0x04}}, // the language list
        {0x0303, 260, std::nullopt},            // no string under index 3: the device stalls
        {0x0100, 260, device},
        {0x0200, 260, std::nullopt}, // configuration descriptors are not answered
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value << " " << std::dec << c.length);
        const std::uint64_t before = world.clock().nowUs();
        EXPECT_EQ(descriptorRequest(world, {2}, 1, c.value, c.length), c.reply);
        EXPECT_EQ(world.clock().nowUs(), before + 250) << "one control transfer to the camera";
    }
    EXPECT_FALSE(descriptorRequest(world, {2}, 2, 0x0301, 260)) << "nothing on port 2";
    EXPECT_FALSE(descriptorRequest(world, {}, 2, 0x0301, 260)) << "a hub has no strings";
    EXPECT_EQ(descriptorRequest(world, {}, 2, 0x0100, 260)->at(4), 0x09) << "but a device descriptor";

    // Raw replies stand in for a device that sends malformed descriptors, or stalls.
    camera.faults().stringDescriptors[1] = {5, 3, 'A', 0, 'B'};
    camera.faults().stringDescriptors[2] = {};
    EXPECT_EQ(descriptorRequest(world, {2}, 1, 0x0301, 260), (Bytes{5, 3, 'A', 0, 'B'}));
    EXPECT_FALSE(descriptorRequest(world, {2}, 1, 0x0302, 260));
}

TEST(HubDriver, CameraWithoutFirmwareAndAfterReset) {
    World world;
    camsim::Camera& camera = world.attach(cameraAt({1}, {}));
    bool ok = false;
    const Bytes info = connectionInformation(world, {}, 1, ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(flashcore::readLe16(&info[12]), FWT_MAKER_VENDOR_ID);
    EXPECT_EQ(flashcore::readLe16(&info[14]), 0x6362);
    EXPECT_EQ(descriptorRequest(world, {}, 1, 0x0303, 260), (Bytes{2, 3})) << "an empty string";

    // New firmware shows after the reset that reads it.
    const Bytes image = firmware();
    std::copy(image.begin(), image.end(), camera.flash().contents().begin());
    EXPECT_EQ(flashcore::readLe16(&connectionInformation(world, {}, 1, ok)[12]), FWT_MAKER_VENDOR_ID);
    camera.reset();
    EXPECT_EQ(flashcore::readLe16(&connectionInformation(world, {}, 1, ok)[12]), 0x1234);
    EXPECT_EQ(descriptorRequest(world, {}, 1, 0x0303, 260), stringDescriptor("SN7"));
}

// The same hubs as the libraries see them through the platform seam.
class SimulatedHub : public ::testing::Test {
  protected:
    World& world = World::global();
    void SetUp() override {
        world.clear();
        world.hubLog().clear();
    }
    void TearDown() override { world.clear(); }

    static std::vector<std::string> hubPaths(platform::DeviceInfoSet& set) {
        std::vector<std::string> paths;
        platform::DeviceInterfaceData iface;
        for (std::uint32_t i = 0; set.enumDeviceInterfaces(platform::kUsbHubInterfaceClass, i, iface); ++i) {
            std::uint32_t required = 0;
            EXPECT_FALSE(set.getDeviceInterfaceDetail(iface, nullptr, 0, &required)) << "a size query";
            Bytes detail(required, 0x00);
            flashcore::writeLe32(detail.data(), platform::kInterfaceDetailHeaderSize);
            EXPECT_TRUE(set.getDeviceInterfaceDetail(iface, detail.data(), required, nullptr));
            paths.emplace_back(reinterpret_cast<const char*>(detail.data() + 4));
            EXPECT_EQ(required, 4 + paths.back().size() + 1);
        }
        return paths;
    }
};

TEST_F(SimulatedHub, SetupApiListsTheHubsAndTheirPathsOpenThem) {
    world.attach(cameraAt({3, 1}));
    std::unique_ptr<platform::DeviceInfoSet> set;
    ASSERT_TRUE(platform::host().getClassDevs(
        platform::kUsbHubInterfaceClass, platform::kDigcfPresent | platform::kDigcfDeviceInterface, set));
    const std::vector<std::string> paths = hubPaths(*set);
    EXPECT_EQ(paths, (std::vector<std::string>{camsim::hubDevicePath({}), camsim::hubDevicePath({1})}));

    // The detail needs the 32-bit header size in its size field and room for the whole path.
    platform::DeviceInterfaceData iface;
    ASSERT_TRUE(set->enumDeviceInterfaces(platform::kUsbHubInterfaceClass, 1, iface));
    Bytes detail(4 + paths[1].size() + 1, 0x00);
    flashcore::writeLe32(detail.data(), 8);
    EXPECT_FALSE(set->getDeviceInterfaceDetail(iface, detail.data(),
                                               static_cast<std::uint32_t>(detail.size()), nullptr));
    flashcore::writeLe32(detail.data(), platform::kInterfaceDetailHeaderSize);
    EXPECT_FALSE(set->getDeviceInterfaceDetail(iface, detail.data(),
                                               static_cast<std::uint32_t>(detail.size() - 1), nullptr));

    std::unique_ptr<platform::DeviceFile> hub;
    ASSERT_TRUE(platform::host().createFile(paths[1].c_str(), platform::kGenericWrite,
                                            platform::kFileShareWrite, platform::kOpenExisting, 0, hub));
    Bytes buffer(platform::kConnectionInformationSize, 0x00);
    buffer[0] = 3;
    std::uint32_t returned = 0;
    ASSERT_TRUE(hub->deviceIoControl(platform::kIoctlUsbGetNodeConnectionInformationEx, buffer.data(),
                                     platform::kConnectionInformationSize, buffer.data(),
                                     platform::kConnectionInformationSize, returned));
    EXPECT_EQ(flashcore::readLe16(&buffer[12]), 0x1234);
    ASSERT_EQ(world.hubLog().size(), 1u);
    EXPECT_EQ(world.hubLog()[0].hub, (HubChain{1}));
    EXPECT_EQ(world.hubLog()[0].code, platform::kIoctlUsbGetNodeConnectionInformationEx);
    EXPECT_EQ(world.hubLog()[0].outSize, platform::kConnectionInformationSize);
    EXPECT_EQ(world.hubLog()[0].in.at(0), 3);

    // The hub goes away with the last camera below it; an open handle then fails.
    world.clear();
    EXPECT_FALSE(hub->deviceIoControl(platform::kIoctlUsbGetNodeInformation, buffer.data(), 76, buffer.data(),
                                      76, returned));
}

TEST_F(SimulatedHub, OtherClassesAndFailingOpens) {
    world.attach(cameraAt({3, 1}));
    std::unique_ptr<platform::DeviceInfoSet> set;
    ASSERT_TRUE(
        platform::host().getClassDevs(platform::guidOf("01234567-89AB-CDEF-0123-456789ABCDEF"), 0x12, set));
    platform::DeviceInterfaceData iface;
    EXPECT_FALSE(set->enumDeviceInterfaces(platform::kUsbHubInterfaceClass, 0, iface));
    ASSERT_TRUE(platform::host().getClassDevs(platform::kUsbHubInterfaceClass, platform::kDigcfPresent, set));
    EXPECT_FALSE(set->enumDeviceInterfaces(platform::kUsbHubInterfaceClass, 0, iface))
        << "without the interface flag the class is a setup class";

    std::unique_ptr<platform::DeviceFile> hub;
    const std::string path = camsim::hubDevicePath({1});
    EXPECT_FALSE(platform::host().createFile("\\\\?\\usb#nothing", platform::kGenericWrite, 2, 3, 0, hub));
    EXPECT_FALSE(platform::host().createFile(path.c_str(), platform::kGenericWrite, 2, 1, 0, hub))
        << "a hub is opened, not created";
    world.hubFaults().failOpen = {{1}};
    EXPECT_FALSE(platform::host().createFile(path.c_str(), platform::kGenericWrite, 2, 3, 0, hub));
    EXPECT_TRUE(platform::host().createFile(camsim::hubDevicePath({}).c_str(), platform::kGenericWrite, 2, 3,
                                            0, hub));
}

} // namespace
