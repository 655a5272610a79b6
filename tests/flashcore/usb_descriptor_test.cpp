// The USB descriptors read from the hub driver at open: the walk over hubs and ports, the requests it sends,
// strings kept by string index, malformed replies, failing hubs, and the record's life from open to close.
#include "fixture.h"

#include "camsim/image_builder.h"
#include "flashcore/bytes.h"
#include "flashcore/connection/state.h"
#include "flashcore/connection/usb_descriptors.h"
#include "fwconfig.h"
#include "platform/device_io.h"

#include <string>

namespace fwtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using flashcore::DeviceDescriptorRecord;

Bytes firmware(const std::string& serialNumber = "SN7") {
    camsim::ImageDescription d;
    d.vendorId = 0x1234;
    d.productId = 0x5678;
    d.bcdDevice = 0x0102;
    d.product = "Cam";
    d.manufacturer = "Maker";
    d.serialNumber = serialNumber;
    return camsim::buildImage(d);
}

// The UTF-16LE code units of an 8-bit text, as the record keeps them.
Bytes utf16(const std::string& text) {
    Bytes units;
    for (char c : text) {
        units.push_back(static_cast<std::uint8_t>(c));
        units.push_back(0);
    }
    return units;
}

const DeviceDescriptorRecord& record() {
    return flashcore::state().ctx.deviceDescriptors;
}

class DeviceDescriptors : public CameraTest {
  protected:
    camsim::CameraConfig cameraAt(std::vector<int> ports, Bytes image = firmware()) {
        camsim::CameraConfig c = config();
        c.ports = std::move(ports);
        c.firmware = std::move(image);
        return c;
    }
    void SetUp() override {
        CameraTest::SetUp();
        world.hubLog().clear();
    }

    // The hub requests as (hub depth, request code, port, descriptor value or 0).
    struct Step {
        std::size_t depth;
        std::uint32_t code;
        std::uint32_t port;
        std::uint16_t value;
        friend bool operator==(const Step&, const Step&) = default;
    };
    std::vector<Step> steps() {
        std::vector<Step> out;
        for (const auto& r : world.hubLog()) {
            const bool hasPort = r.code != platform::kIoctlUsbGetNodeInformation;
            const bool hasValue = r.code == platform::kIoctlUsbGetDescriptorFromNodeConnection;
            out.push_back({r.hub.size(), r.code, hasPort ? flashcore::readLe32(r.in.data()) : 0,
                           hasValue ? flashcore::readLe16(&r.in[6]) : std::uint16_t{0}});
        }
        return out;
    }
};

TEST_F(DeviceDescriptors, FilledAtOpenAndClearedAtClose) {
    attach(cameraAt({3, 1}));
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(record().found, 1u);
    EXPECT_EQ(record().idVendor, 0x1234);
    EXPECT_EQ(record().idProduct, 0x5678);
    EXPECT_EQ(record().bcdDevice, 0x0102);
    EXPECT_EQ(record().iManufacturer, 1);
    EXPECT_EQ(record().iProduct, 2);
    EXPECT_EQ(record().iSerialNumber, 3);
    EXPECT_EQ(*record().stringText(1), utf16("Maker"));
    EXPECT_EQ(*record().stringText(2), utf16("Cam"));
    EXPECT_EQ(*record().stringText(3), utf16("SN7"));
    EXPECT_EQ(record().stringText(0), nullptr);
    EXPECT_EQ(record().stringText(4), nullptr);

    // Root hub first, every port up to its port count; then the hub on root port 1 up to the camera's port,
    // and the camera's three strings in the order manufacturer, product, serial number.
    constexpr std::uint32_t kNode = platform::kIoctlUsbGetNodeInformation;
    constexpr std::uint32_t kPort = platform::kIoctlUsbGetNodeConnectionInformationEx;
    constexpr std::uint32_t kString = platform::kIoctlUsbGetDescriptorFromNodeConnection;
    const std::vector<Step> want = {
        {0, kNode, 0, 0}, {0, kPort, 1, 0},        {0, kPort, 2, 0},        {0, kPort, 3, 0},
        {0, kPort, 4, 0}, {1, kNode, 0, 0},        {1, kPort, 1, 0},        {1, kPort, 2, 0},
        {1, kPort, 3, 0}, {1, kString, 3, 0x0301}, {1, kString, 3, 0x0302}, {1, kString, 3, 0x0303},
    };
    EXPECT_EQ(steps(), want);
    // The requests at their fixed buffer sizes, the same buffer in and out; the string request zeroed apart
    // from its port, value and reply length.
    for (const auto& r : world.hubLog()) {
        const std::uint32_t size = r.code == kNode ? 76 : r.code == kPort ? 365 : 272;
        EXPECT_EQ(r.in.size(), size);
        EXPECT_EQ(r.outSize, size);
    }
    Bytes stringRequest(272, 0x00);
    stringRequest[0] = 3;
    flashcore::writeLe16(&stringRequest[6], 0x0302);
    flashcore::writeLe16(&stringRequest[10], 260);
    EXPECT_EQ(world.hubLog()[10].in, stringRequest);

    EXPECT_TRUE(UnInitialize_DriverInterface());
    EXPECT_EQ(record().found, 0u);
    EXPECT_EQ(record().idVendor, 0);
    EXPECT_EQ(record().iManufacturer, 0);
    for (std::uint8_t k = 1; k <= 3; ++k)
        EXPECT_TRUE(record().stringText(k)->empty()) << int{k};
}

TEST_F(DeviceDescriptors, StringsKeyedByIndexNotMeaning) {
    camsim::CameraConfig c = cameraAt({2});
    c.stringIndices = {2, 1, 0}; // manufacturer under 2, product under 1, no serial number
    attach(c);
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(record().found, 1u);
    EXPECT_EQ(*record().stringText(2), utf16("Maker"));
    EXPECT_EQ(*record().stringText(1), utf16("Cam"));
    EXPECT_TRUE(record().stringText(3)->empty());
    std::vector<Step> sent = steps();
    ASSERT_GE(sent.size(), 3u);
    EXPECT_EQ(sent[sent.size() - 2].value, 0x0302) << "index 0 is never asked for";
    EXPECT_EQ(sent[sent.size() - 1].value, 0x0301);
    EXPECT_EQ(sent[sent.size() - 3].code, platform::kIoctlUsbGetNodeConnectionInformationEx);

    // An index above 3 has no place in the record and is not asked for.
    UnInitialize_DriverInterface();
    world.clear();
    c.stringIndices = {4, 5, 1};
    attach(c);
    world.hubLog().clear();
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(*record().stringText(1), utf16("SN7"));
    sent = steps();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 1].value, 0x0301);
    EXPECT_EQ(sent[sent.size() - 2].code, platform::kIoctlUsbGetNodeConnectionInformationEx);
}

TEST_F(DeviceDescriptors, MalformedOrEmptyRepliesStoreNothing) {
    Bytes longest = {254, 3};
    longest.resize(254, 'z');
    Bytes oversized = {44, 3};
    oversized.resize(300, 'y'); // the hub returns the first 260 bytes
    struct Case {
        const char* name;
        Bytes reply;
        Bytes stored;
    };
    const Case cases[] = {
        {"well formed", {6, 3, 'A', 0, 'B', 0}, {'A', 0, 'B', 0}},
        {"empty string", {2, 3}, {}},
        {"odd length", {5, 3, 'A', 0, 'B'}, {}},
        {"length above the bytes sent", {8, 3, 'A', 0}, {}},
        {"length below the bytes sent", {4, 3, 'A', 0, 'B', 0}, {}},
        {"length zero", {0, 3}, {}},
        {"not a string descriptor", {4, 4, 'A', 0}, {}},
        {"longest", longest, Bytes(longest.begin() + 2, longest.end())},
        {"more than the reply room", oversized, {}},
        {"stall", {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        camsim::Camera& camera = attach(cameraAt({1}));
        camera.faults().stringDescriptors[2] = c.reply;
        ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
        EXPECT_EQ(record().found, 1u);
        EXPECT_EQ(*record().stringText(2), c.stored);
        EXPECT_EQ(*record().stringText(1), utf16("Maker")) << "the other strings are kept";
        EXPECT_EQ(*record().stringText(3), utf16("SN7"));
        UnInitialize_DriverInterface();
    }
}

TEST_F(DeviceDescriptors, TwoIdenticalCamerasTheLowerPortIsFoundFirst) {
    attach(cameraAt({3}, firmware("ON-PORT-3"))); // the open takes this one, the first capture device
    attach(cameraAt({2}, firmware("ON-PORT-2")));
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(record().found, 1u);
    EXPECT_EQ(*record().stringText(3), utf16("ON-PORT-2"));
}

TEST_F(DeviceDescriptors, CameraWithoutFirmware) {
    attach(cameraAt({2, 4}, {}));
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(record().found, 1u);
    EXPECT_EQ(record().idVendor, FWT_MAKER_VENDOR_ID);
    EXPECT_EQ(record().idProduct, 0x6362);
    for (std::uint8_t k = 1; k <= 3; ++k)
        EXPECT_TRUE(record().stringText(k)->empty()) << "an erased slot reports an empty string";
}

TEST_F(DeviceDescriptors, FailingHubsAreSkipped) {
    attach(cameraAt({3, 1}));
    world.hubFaults().failOpen = {{}};
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(record().found, 1u) << "found on the hub below the root hub";
    EXPECT_EQ(steps().front().depth, 1u);
    UnInitialize_DriverInterface();

    // Not found: the open still succeeds; the identity fields hold the last port examined (the hub on root
    // port 1), the strings stay empty.
    world.hubFaults() = {};
    world.hubFaults().failNodeInformation = {{1}};
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(record().found, 0u);
    EXPECT_EQ(record().idVendor, camsim::kHubVendorId);
    EXPECT_EQ(record().idProduct, camsim::kHubProductId);
    EXPECT_TRUE(record().stringText(1)->empty());
}

TEST_F(DeviceDescriptors, IdsComeFromTheExtensionUnitPath) {
    attach(cameraAt({1}));
    struct Case {
        const char* path;
        bool found;
    };
    const Case cases[] = {
        {"\\\\?\\usb#vid_1234&pid_5678&mi_00#7&1.0#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global", true},
        {"\\\\?\\usb#VID_1234&PID_5678", false},
        {"\\\\?\\usb#vid_1234", false},
        {"vid_1234&pid_567", false},
        {"vid_12g4&pid_5678", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        DeviceDescriptorRecord r;
        r.found = 1;
        r.idVendor = 0x9999;
        r.strings[0] = {'x', 0};
        EXPECT_EQ(flashcore::fillDeviceDescriptors(r, c.path), c.found);
        EXPECT_EQ(r.found, c.found ? 1u : 0u);
        EXPECT_EQ(r.idVendor, c.found ? 0x1234 : 0) << "every fill starts from an empty record";
        EXPECT_EQ(r.strings[0], c.found ? utf16("Maker") : Bytes{});
    }

    // The by-path open keeps the caller's path as the extension-unit path: its ids are the ones looked for.
    const std::u16string prefix = u"\\\\?\\usb#vid_1234&pid_5678";
    EXPECT_EQ(Initialize_DriverInterface2(prefix.c_str(), 8, 0, false), 2);
    EXPECT_EQ(record().found, 1u);
    UnInitialize_DriverInterface();
    const std::u16string upper = u"\\\\?\\usb#VID_1234&PID_5678";
    EXPECT_EQ(Initialize_DriverInterface2(upper.c_str(), 8, 0, false), 2);
    EXPECT_EQ(record().found, 0u);
}

} // namespace
} // namespace fwtest
