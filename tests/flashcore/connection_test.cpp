// Opening and closing cameras: return values per configuration, power-up waits, the device searches, the
// chip identification probe and the family-13 protection latch.
#include "fixture.h"

#include "flashcore/connection/chip_table.h"
#include "flashcore/connection/state.h"

#include <string>

namespace fwtest {
namespace {

using Open = CameraTest;

struct OpenCase {
    const char* name;
    int family;
    bool useFilterDriver;
    bool zetaBurner;
    bool blockMode;
    int expected;
};

TEST_F(Open, ReturnValueFollowsTheConfigurationFlags) {
    // No filter-driver camera exists, so a permitted filter-driver open always fails over to the extension
    // unit unless burner-board mode forbids it.
    const OpenCase cases[] = {
        {"defaults", 13, true, false, false, 2},
        {"filter driver not permitted", 13, false, false, false, 2},
        {"burner board without filter driver", 13, true, true, false, 0},
        {"burner board, filter driver not permitted", 13, false, true, false, 2},
        {"XU6 on family 13", 13, true, false, true, 3},
        {"XU6 on family 11", 11, true, false, true, 3},
        {"XU6 on family 7 stays 8-byte", 7, true, false, true, 2},
        {"burner board with XU6 on family 13", 13, true, true, true, 3},
        {"burner board with XU6 on family 7", 7, true, true, true, 0},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        attach(config(c.family));
        IsUseFilterDriver(c.useFilterDriver);
        IsZetaBurner(c.zetaBurner);
        EnableModeXU6(c.blockMode);
        EXPECT_EQ(Initialize_DriverInterface(0, false), c.expected);
        UnInitialize_DriverInterface();
    }
}

TEST_F(Open, FailuresBeforeADeviceIsFound) {
    // An empty video capture category is reported as an unavailable enumerator.
    EXPECT_EQ(Initialize_DriverInterface(0, false), -1);
    // A camera whose extension unit answers on neither fallback node fails the probe.
    camsim::CameraConfig hidden = config();
    hidden.devSpecificNode = false;
    hidden.extensionUnitNode = 5;
    attach(hidden);
    EXPECT_EQ(Initialize_DriverInterface(0, false), -2);
    EXPECT_EQ(Initialize_DriverInterface2(nullptr, 10, 0, false), -1);
    EXPECT_EQ(Initialize_DriverInterface2(u"\\\\?\\usb#vid_9999", 16, 0, false), -1);
}

TEST_F(Open, ExtensionUnitWithoutVendorNodeIsProbedOnNodeOneThenTwo) {
    camsim::CameraConfig c = config();
    c.devSpecificNode = false;
    c.extensionUnitNode = 2;
    attach(c);
    EXPECT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(flashcore::state().ctx.xu.nodeId, 2u);
}

TEST_F(Open, DeviceWithoutFriendlyNameIsSkippedByIndexButFoundByPath) {
    camsim::CameraConfig c = config();
    c.friendlyName.reset();
    camsim::Camera& camera = attach(c);
    EXPECT_EQ(Initialize_DriverInterface(0, false), -2);
    const std::u16string path = camera.devicePath();
    EXPECT_EQ(Initialize_DriverInterface2(path.c_str(), 40, 0, false), 2);
    const std::string narrow(path.begin(), path.end());
    EXPECT_STREQ(flashcore::state().ctx.xu.devicePath.c_str(), narrow.c_str());
}

TEST_F(Open, ByPathPicksTheCameraWhosePathMatches) {
    camsim::CameraConfig first = config(7, 'A');
    first.ports = {1};
    camsim::CameraConfig second = config(13);
    second.ports = {2};
    attach(first);
    camsim::Camera& wanted = attach(second);
    const std::u16string path = wanted.devicePath();
    USBDeviceInfo record{};
    EXPECT_EQ(Initialize_DriverInterface_Multi(path.c_str(), static_cast<int>(path.size()), &record, false, 0,
                                               false),
              2);
    EXPECT_EQ(flashcore::slotState(0).chipFamily, 13);
}

TEST_F(Open, ProbeIdentifiesEveryControllerFamily) {
    for (int family = 0; family < flashcore::kChipFamilyCount; ++family) {
        SCOPED_TRACE(family);
        SetUp();
        attach(config(family, 'A'));
        ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
        EXPECT_EQ(flashcore::slotState(0).chipFamily, family);
        EXPECT_EQ(IsNewSensorTable(), family != 0);
        fw_ulong bypass = 0;
        ASSERT_TRUE(GetBypassLength(&bypass));
        EXPECT_EQ(bypass, family <= 1 ? 0xE000u : 0xC000u);
        UnInitialize_DriverInterface();
    }
}

TEST_F(Open, PowerUpWaitOnTheVirtualClock) {
    struct WaitCase {
        int family;
        int waitMs;
        std::uint64_t sleptMs;
    };
    const WaitCase cases[] = {{7, 0, 0},     {7, 1, 1500},  {7, 1499, 1500}, {7, 2000, 2000},
                              {7, -5, 1500}, {11, 2000, 0}, {13, 1, 0}};
    for (const WaitCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "family " << c.family << " wait " << c.waitMs);
        SetUp();
        camsim::CameraConfig cfg = config(c.family, 'A');
        cfg.busTimeUs = 0; // only sleeps move the clock
        attach(cfg);
        const std::uint64_t before = world.clock().nowUs();
        ASSERT_GT(Initialize_DriverInterface(c.waitMs, false), 0);
        EXPECT_EQ(world.clock().nowUs() - before, c.sleptMs * 1000);
        UnInitialize_DriverInterface();
    }
}

TEST_F(Open, CloseTwiceAndOperationsOnClosedOrInvalidSlots) {
    camsim::Camera& camera = attach();
    ASSERT_EQ(open(camera), 2);
    EXPECT_TRUE(UnInitialize_DriverInterface());
    EXPECT_FALSE(UnInitialize_DriverInterface());
    const std::uint64_t transfers = camera.counters().transfers;
    unsigned char value = 0;
    unsigned char buffer[8] = {};
    fw_ulong out = 0;
    for (int slot : {0, 5, -1, 24, 1000}) {
        SCOPED_TRACE(slot);
        EXPECT_FALSE(ProcWriteToASIC(slot, 0x1000, 1));
        EXPECT_FALSE(ProcReadFromASIC(slot, 0x1000, &value));
        EXPECT_FALSE(ReqToDriver(slot, 7, 0, buffer, 8));
        EXPECT_FALSE(ReqToDriver2(slot, 7, 0, buffer, 8));
        EXPECT_FALSE(GetMemType(slot, &value));
        EXPECT_FALSE(GetBypassLength(slot, out));
        EXPECT_FALSE(UnInitialize_DriverInterface(slot));
        EXPECT_FALSE(EraseSF(slot, nullptr));
        EXPECT_EQ(GetFlashType(slot), -1);
    }
    EXPECT_FALSE(IsNewSensorTable(-1));
    EXPECT_EQ(Initialize_DriverInterface(24, 0, false), 0);
    EXPECT_EQ(camera.counters().transfers, transfers);
}

TEST_F(Open, RegisterMapAndSensorModeChosenAtOpen) {
    camsim::CameraConfig b = config(13, 'B');
    b.registers[0x80F0] = 0x88;
    attach(b);
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(flashcore::state().ctx.registerMap, &flashcore::kRegisterMapB);
    EXPECT_TRUE(flashcore::state().ctx.sensorViaProperty);
    UnInitialize_DriverInterface();

    SetUp();
    attach(config(7, 'A'));
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_EQ(flashcore::state().ctx.registerMap, &flashcore::kRegisterMapA);
    EXPECT_FALSE(flashcore::state().ctx.sensorViaProperty);
}

TEST_F(Open, FamilyThirteenProtectionLatchAndSavedValue) {
    camsim::CameraConfig c = config(13);
    c.registers[0x03EA] = 0x02;
    c.registers[0x0DDB] = 0x01;
    c.registers[0x8200] = 0x00;
    camsim::Camera& camera = attach(c);
    ASSERT_EQ(open(camera), 2);
    EXPECT_TRUE(flashcore::state().ctx.protectLatched);
    EXPECT_EQ(camera.peekRegister(0x0DDB), 0x00);
    UnInitialize_DriverInterface();
    EXPECT_EQ(camera.peekRegister(0x0DDB), 0x01);

    // The caller may skip the check; a protect state register that answers the saved bits clears it too.
    ASSERT_EQ(Initialize_DriverInterface(0, true), 2);
    EXPECT_FALSE(flashcore::state().ctx.protectLatched);
    UnInitialize_DriverInterface();
    camera.pokeRegister(0x8200, 0x01);
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    EXPECT_FALSE(flashcore::state().ctx.protectLatched);
}

TEST_F(Open, FailedRegisterReadAtOpenFinishGivesZeroAndKeepsTheSlotOpen) {
    camsim::Camera& camera = attach(config(7, 'A'));
    // Find the transfer that reads 0x101F in a good open, then fail that transfer in the next open.
    camera.log().clear();
    ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
    UnInitialize_DriverInterface();
    std::uint64_t mapRead = 0;
    for (std::size_t i = 0; i < camera.log().size() && mapRead == 0; ++i) {
        const auto& r = camera.log()[i];
        if (r.id == 1 && r.set && r.payload[0] == 0x1F && r.payload[1] == 0x10 && r.payload[3] == 0xFF)
            mapRead = i + 1;
    }
    ASSERT_NE(mapRead, 0u);
    camera.faults().failTransfer = camera.counters().transfers + mapRead;
    EXPECT_EQ(Initialize_DriverInterface(0, false), 0);
    EXPECT_TRUE(flashcore::slotOpen(0));
    EXPECT_TRUE(UnInitialize_DriverInterface());
}

} // namespace
} // namespace fwtest
