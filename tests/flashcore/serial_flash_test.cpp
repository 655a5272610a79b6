// The serial flash command layer: identification through the id table, erase opcodes and addresses, size,
// busy waits on the virtual clock, and the protection latch.
#include "fixture.h"

#include "flashcore/connection/state.h"

namespace fwtest {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<Bytes>;
using SerialFlash = CameraTest;

camsim::CameraConfig flashChip(std::uint8_t manufacturer, std::uint8_t id1, std::uint8_t id2) {
    camsim::CameraConfig c = CameraTest::config(7, 'A');
    c.flash.manufacturer = manufacturer;
    c.flash.id1 = id1;
    c.flash.id2 = id2;
    return c;
}

TEST_F(SerialFlash, IdentificationThroughTheIdTable) {
    struct Case {
        const char* name;
        camsim::CameraConfig camera;
        int typeCode;
        int row;
        int commandSet;
    };
    camsim::CameraConfig continuation = flashChip(0x37, 0x30, 0x10);
    continuation.flash.continuationBytes = 1;
    // A chip that ignores 0x9F and 0x15 and answers its manufacturer and device id to 0x90.
    camsim::CameraConfig legacy = flashChip(0xBF, 0x48, 0x00);
    legacy.flash.idAnswers = {{0x9F, {}}, {0x15, {}}, {0x90, {0xBF, 0x48}}};
    const Case cases[] = {
        {"winbond-style 0x9F answer", flashChip(0xEF, 0x30, 0x11), 7, 9, 1},
        {"0x7F continuation byte skipped", continuation, 10, 32, 5},
        {"first match wins over a later duplicate row", flashChip(0x68, 0x40, 0x10), 15, 31, 6},
        {"any-id row", flashChip(0x9D, 0x7B, 0x42), 8, 27, 3},
        {"answer to 0x90 only", legacy, 3, 35, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        camsim::Camera& camera = attach(c.camera);
        ASSERT_EQ(open(camera), 2);
        EXPECT_EQ(GetFlashType(), c.typeCode);
        EXPECT_EQ(flashcore::state().ctx.flashTypeCode, c.typeCode);
        EXPECT_EQ(flashcore::state().ctx.flashId.row, c.row);
        EXPECT_EQ(flashcore::state().ctx.flashId.commandSet, c.commandSet);
        UnInitialize_DriverInterface();
    }
}

TEST_F(SerialFlash, UnknownFlashFallsBackToTheControllerRegister) {
    camsim::CameraConfig c = flashChip(0x12, 0x34, 0x56);
    c.registers[0x05F0] = 0x42;
    camsim::Camera& camera = attach(c);
    ASSERT_EQ(open(camera), 2);
    EXPECT_EQ(GetFlashType(), 0x42);
    // All four probe steps ran: 0x9F, 0x15, then 0x90 and 0xAB with three dummy bytes each.
    EXPECT_EQ(flashCommands(camera), (Frames{{0x9F}, {0x15}, {0x90, 0, 0, 0}, {0xAB, 0, 0, 0}}));

    // The register read failing as well gives 255: fail the last transfer (the register's get).
    const std::uint64_t start = camera.counters().transfers;
    GetFlashType();
    const std::uint64_t perCall = camera.counters().transfers - start;
    camera.faults().failTransfer = camera.counters().transfers + perCall;
    EXPECT_EQ(GetFlashType(), 255);
}

TEST_F(SerialFlash, ChipEraseOpcodeByTypeCode) {
    struct Case {
        std::uint8_t manufacturer, id1, id2;
        std::uint8_t opcode;
    };
    const Case cases[] = {{0xEF, 0x30, 0x11, 0xC7},
                          {0xC2, 0x20, 0x10, 0x60},
                          {0x1C, 0x31, 0x11, 0xC7},
                          {0x9D, 0x20, 0x10, 0xC7},
                          {0xC8, 0x40, 0x10, 0x60}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.manufacturer));
        SetUp();
        camsim::Camera& camera = attach(flashChip(c.manufacturer, c.id1, c.id2));
        camera.flash().contents()[0x100] = 0x00;
        ASSERT_EQ(open(camera), 2);
        fw_ulong latched = 0;
        ASSERT_TRUE(EraseSF(&latched));
        EXPECT_EQ(latched, 0u);
        const Frames frames = flashCommands(camera);
        ASSERT_GE(frames.size(), 3u);
        EXPECT_EQ(frames[0], Bytes{0x06});
        EXPECT_EQ(frames[1], Bytes{c.opcode});
        EXPECT_EQ(frames[2], Bytes{0x05});
        EXPECT_EQ(camera.flash().contents()[0x100], 0xFF);
        UnInitialize_DriverInterface();
    }
}

TEST_F(SerialFlash, SectorEraseAddressAndRefusedTypes) {
    camsim::Camera& camera = attach(flashChip(0xEF, 0x30, 0x11));
    camera.flash().contents()[0x15000] = 0x00;
    camera.flash().contents()[0x16000] = 0x00;
    ASSERT_EQ(open(camera), 2);
    ASSERT_TRUE(SectorEraseSF(0x15, nullptr));
    EXPECT_EQ(flashCommands(camera)[1], (Bytes{0x20, 0x01, 0x50, 0x00}));
    EXPECT_EQ(camera.flash().contents()[0x15000], 0xFF);
    EXPECT_EQ(camera.flash().contents()[0x16000], 0x00);
    UnInitialize_DriverInterface();

    // Type 2 (reported by the controller for an unknown chip) has no sector erase: no flash command at all.
    SetUp();
    camsim::CameraConfig unknown = flashChip(0x12, 0x34, 0x56);
    unknown.registers[0x05F0] = 2;
    camsim::Camera& other = attach(unknown);
    ASSERT_EQ(open(other), 2);
    EXPECT_FALSE(SectorEraseSF(1, nullptr));
    EXPECT_TRUE(other.log().empty());
}

TEST_F(SerialFlash, SizeFromManufacturerAndType) {
    struct Case {
        std::uint8_t manufacturer, id1, id2;
        bool known;
        fw_ulong size, sectorSize;
    };
    const Case cases[] = {{0x20, 0x20, 0x13, true, 0x10000, 0x8000},
                          {0xA1, 0x31, 0x10, true, 0x20000, 0x1000},
                          {0xEF, 0x40, 0x13, false, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << int(c.manufacturer) << " " << int(c.id1));
        SetUp();
        attach(flashChip(c.manufacturer, c.id1, c.id2));
        ASSERT_EQ(Initialize_DriverInterface(0, false), 2);
        fw_ulong size = 1, sectorSize = 1;
        EXPECT_EQ(GetSFSize(&size, &sectorSize), c.known);
        EXPECT_EQ(size, c.size);
        EXPECT_EQ(sectorSize, c.sectorSize);
        UnInitialize_DriverInterface();
    }
}

TEST_F(SerialFlash, StatusAndBusyWaitOnTheVirtualClock) {
    camsim::CameraConfig c = flashChip(0xEF, 0x30, 0x11);
    c.busTimeUs = 0;
    camsim::Camera& camera = attach(c);
    ASSERT_EQ(open(camera), 2);
    const std::uint64_t before = world.clock().nowUs();
    ASSERT_TRUE(EraseSF(nullptr));
    // The 128 KB chip erase keeps the flash busy for one second; the wait sleeps 1 ms between polls.
    EXPECT_GE(world.clock().nowUs() - before, 1000000u);
    EXPECT_LE(world.clock().nowUs() - before, 1001000u);
    unsigned char status = 0xFF;
    ASSERT_TRUE(GetSFStatus(&status));
    EXPECT_EQ(status & 0x03, 0);

    // A flash that never finishes makes the wait give up after 10000 polls of 1 ms.
    camera.flash().setStuckBusy(true);
    const std::uint64_t stuck = world.clock().nowUs();
    EXPECT_FALSE(EraseSF(nullptr));
    EXPECT_EQ(world.clock().nowUs() - stuck, 10000u * 1000u);
}

TEST_F(SerialFlash, LatchedProtectionReportedOnlyWhenAsked) {
    camsim::CameraConfig c = config(13);
    c.registers[0x03EA] = 0x02;
    c.registers[0x0DDB] = 0x01;
    camsim::Camera& camera = attach(c);
    camera.flash().contents()[0] = 0x00;
    ASSERT_EQ(open(camera), 2);
    ASSERT_TRUE(flashcore::state().ctx.protectLatched);
    fw_ulong latched = 0;
    EXPECT_FALSE(EraseSF(&latched));
    EXPECT_EQ(latched, 1u);
    latched = 0;
    EXPECT_FALSE(SectorEraseSF(0, &latched));
    EXPECT_EQ(latched, 1u);
    EXPECT_TRUE(camera.log().empty());
    EXPECT_EQ(camera.flash().contents()[0], 0x00);
    // With no place to report it, the latch is ignored and the erase runs.
    EXPECT_TRUE(EraseSF(nullptr));
    EXPECT_EQ(camera.flash().contents()[0], 0xFF);
}

TEST_F(SerialFlash, InterfaceEnableOnceForFamiliesElevenAndThirteen) {
    camsim::Camera& camera = attach(config(13));
    ASSERT_EQ(open(camera), 2);
    EXPECT_EQ(camera.peekRegister(0x0A00), 0);
    ASSERT_TRUE(SectorEraseSF(0, nullptr));
    ASSERT_TRUE(SectorEraseSF(1, nullptr));
    std::size_t enables = 0;
    for (const auto& r : calls(camera, 1))
        if (r.set && r.payload[0] == 0x00 && r.payload[1] == 0x0A && r.payload[2] == 1) ++enables;
    EXPECT_EQ(enables, 1u);
    EXPECT_EQ(camera.peekRegister(0x0A00), 1);
}

TEST_F(SerialFlash, SetFlashTypeSetsUpTheInterface) {
    camsim::Camera& camera = attach(flashChip(0xBF, 0x48, 0x00));
    ASSERT_EQ(open(camera), 2);
    ASSERT_TRUE(SetFlashType(3));
    EXPECT_EQ(camera.peekRegister(0x03C5), 3);
    EXPECT_EQ(camera.peekRegister(0x108D), 7);
    EXPECT_EQ(camera.peekRegister(0x1093), 0);
    const Frames frames = flashCommands(camera);
    ASSERT_GE(frames.size(), 2u);
    EXPECT_EQ(frames[0], Bytes{0x50});
    EXPECT_EQ(frames[1], (Bytes{0x01, 0x00}));
    camera.log().clear();
    EXPECT_TRUE(SetFlashType(5));
    EXPECT_TRUE(camera.log().empty());
}

} // namespace
} // namespace fwtest
