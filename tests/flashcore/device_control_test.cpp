// Device control: the reset per family (with the one-second wait on the virtual clock), the CPU-rate rules,
// and the argument checks of the CPU-rate and serial-flash clock setters.
#include "fixture.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace fwtest {
namespace {

using DeviceControl = CameraTest;
using Write = std::pair<std::uint16_t, std::uint8_t>;

// The register writes the camera received, in order.
std::vector<Write> registerWrites(camsim::Camera& camera) {
    std::vector<Write> out;
    for (const auto& r : CameraTest::calls(camera, 1))
        if (r.set && r.payload[3] != 0xFF)
            out.emplace_back(static_cast<std::uint16_t>(r.payload[0] | (r.payload[1] << 8)), r.payload[2]);
    return out;
}

TEST_F(DeviceControl, ResetWritesZeroToTheResetRegisterAndReturnsTwoAtOnce) {
    for (const auto& [map, reg] :
         {std::pair{'B', std::uint16_t{0x8C00}}, std::pair{'A', std::uint16_t{0x1073}}}) {
        SCOPED_TRACE(map);
        SetUp();
        camsim::CameraConfig c = config(13, map);
        c.registers[reg] = 0x05;
        camsim::Camera& camera = attach(c);
        ASSERT_GT(open(camera), 0);
        const std::uint64_t before = world.clock().nowUs();
        EXPECT_EQ(ResetDevice(), 2);
        EXPECT_EQ(registerWrites(camera), (std::vector<Write>{{reg, 0x00}}));
        EXPECT_EQ(camera.log().size(), 1u) << "nothing read";
        EXPECT_EQ(world.clock().nowUs() - before, c.busTimeUs) << "one transfer, no wait";
    }
}

TEST_F(DeviceControl, ResetOnFamiliesSixAndEightClearsBit0AndWaitsOneSecond) {
    struct Case {
        int family;
        char map;
        std::uint16_t reg;
    };
    for (const Case& k : {Case{6, 'A', 0x1073}, Case{8, 'B', 0x8C00}}) {
        SCOPED_TRACE(k.family);
        SetUp();
        camsim::CameraConfig c = config(k.family, k.map);
        c.registers[k.reg] = 0x05;
        camsim::Camera& camera = attach(c);
        ASSERT_GT(open(camera), 0);
        const std::uint64_t before = world.clock().nowUs();
        const std::uint64_t transfers = camera.counters().transfers;
        EXPECT_EQ(ResetDevice(0), 1);
        EXPECT_EQ(registerWrites(camera), (std::vector<Write>{{k.reg, 0x04}}));
        const std::uint64_t busTime = (camera.counters().transfers - transfers) * c.busTimeUs;
        EXPECT_EQ(world.clock().nowUs() - before - busTime, 1'000'000u);

        // A failed read of the reset register fails the reset without a write.
        camera.log().clear();
        camera.faults().failTransfer = camera.counters().transfers + 1;
        EXPECT_EQ(ResetDevice(0), 0);
        EXPECT_TRUE(registerWrites(camera).empty());
    }
}

TEST_F(DeviceControl, ClosedSlotsAreRefusedWithoutTouchingTheCamera) {
    camsim::Camera& camera = attach();
    EXPECT_EQ(ResetDevice(), 0);
    EXPECT_FALSE(PullCpuRate(true));
    EXPECT_FALSE(SetCPURate(1));
    EXPECT_FALSE(SetSerialFlashClock(1));
    ASSERT_GT(open(camera), 0);
    EXPECT_EQ(ResetDevice(1), 0);
    EXPECT_FALSE(PullCpuRate(1, false));
    EXPECT_EQ(ResetDevice(24), 0);
    EXPECT_FALSE(PullCpuRate(-1, true));
    EXPECT_TRUE(camera.log().empty());
}

TEST_F(DeviceControl, PullCpuRateFollowsTheFamilyRule) {
    struct Case {
        int family;
        char map;
        bool raise;
        std::uint8_t current;
        std::uint8_t written;
    };
    const Case cases[] = {
        {10, 'A', true, 0xFF, 0xF3},  {10, 'A', false, 0x00, 0x0D}, {10, 'A', false, 0xF2, 0xFD},
        {6, 'A', true, 0x12, 0x40},   {6, 'A', false, 0x12, 0x13},  {7, 'A', true, 0xFF, 0xF1},
        {9, 'A', true, 0x0E, 0x01},   {11, 'B', true, 0x3C, 0x31},  {11, 'B', false, 0x3C, 0x3D},
        {8, 'B', true, 0xFE, 0x01},   {8, 'B', false, 0x80, 0x81},  {13, 'B', true, 0xFF, 0xFC},
        {13, 'B', false, 0x80, 0x81}, {2, 'A', true, 0x03, 0x00},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(testing::Message()
                     << "family " << k.family << (k.raise ? " raise " : " lower ") << int{k.current});
        SetUp();
        camsim::Camera& camera = attach(config(k.family, k.map));
        ASSERT_GT(open(camera), 0);
        const std::uint16_t reg = camera.mapRegister(flashcore::kCpuRateEntry);
        camera.pokeRegister(reg, k.current);
        EXPECT_TRUE(PullCpuRate(k.raise));
        EXPECT_EQ(registerWrites(camera), (std::vector<Write>{{reg, k.written}}));
        EXPECT_EQ(camera.peekRegister(reg), k.written);
    }
}

TEST_F(DeviceControl, PullCpuRateTakesZeroForAFailedReadAndIgnoresAFailedWrite) {
    camsim::Camera& camera = attach(config(10, 'A'));
    ASSERT_GT(open(camera), 0);
    camera.pokeRegister(0x1002, 0xFF);
    // The first transfer of the read fails: the rule applies to 0.
    camera.faults().failTransfer = camera.counters().transfers + 1;
    EXPECT_TRUE(PullCpuRate(0, true));
    EXPECT_EQ(registerWrites(camera), (std::vector<Write>{{0x1002, 0x03}}));
    // The write fails: still true.
    camera.pokeRegister(0x1002, 0xFF);
    camera.faults().failTransfer = camera.counters().transfers + 3;
    EXPECT_TRUE(PullCpuRate(0, true));
    EXPECT_EQ(camera.peekRegister(0x1002), 0xFF);
}

TEST_F(DeviceControl, CpuRateAndFlashClockSettersCheckTheirArgumentsFirst) {
    camsim::Camera& camera = attach(config(13, 'B'));
    ASSERT_GT(open(camera), 0);
    EXPECT_FALSE(SetCPURate(2));
    EXPECT_FALSE(SetSerialFlashClock(4));
    EXPECT_TRUE(camera.log().empty());

    EXPECT_TRUE(SetCPURate(0));
    EXPECT_TRUE(SetCPURate(1));
    EXPECT_TRUE(SetSerialFlashClock(3));
    EXPECT_EQ(registerWrites(camera), (std::vector<Write>{{0x8041, 0x81}, {0x8041, 0x01}, {0x1090, 3}}));

    // The write's result is the result.
    camera.faults().failTransfer = camera.counters().transfers + 1;
    EXPECT_FALSE(SetCPURate(1));
    camera.faults().failTransfer = camera.counters().transfers + 1;
    EXPECT_FALSE(SetSerialFlashClock(0));
}

} // namespace
} // namespace fwtest
