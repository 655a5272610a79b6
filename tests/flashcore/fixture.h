// A world with one virtual camera and flashcore at its load-time configuration, for tests that go through
// flashcore's exports. Every test starts with all slots closed.
#pragma once

#include "camsim/world.h"
#include "flashcore.h"
#include "flashcore/connection/register_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace fwtest {

class CameraTest : public ::testing::Test {
  protected:
    camsim::World& world = camsim::World::global();

    void SetUp() override {
        for (int slot = 0; slot < 24; ++slot)
            UnInitialize_DriverInterface(slot);
        world.clear();
        IsUseFilterDriver(true);
        IsZetaBurner(false);
        IsNeedOTPcheck(false);
        IsNeedFilterId(false, nullptr, 0);
        EnableModeXU6(false);
    }
    void TearDown() override {
        for (int slot = 0; slot < 24; ++slot)
            UnInitialize_DriverInterface(slot);
        world.clear();
    }

  public:
    // A T465M-class camera on map B with a 128 KB flash, no firmware.
    static camsim::CameraConfig config(int family = 13, char map = 'B') {
        camsim::CameraConfig c;
        c.family = family;
        c.registerMap = map;
        return c;
    }

  protected:
    camsim::Camera& attach(const camsim::CameraConfig& c = config()) { return world.attach(c); }

    // Opens slot 0 by index without a power-up wait and forgets what the open sent.
    int open(camsim::Camera& camera) {
        const int transport = Initialize_DriverInterface(0, false);
        camera.log().clear();
        return transport;
    }

  public:
    // Opens the camera's flash writer (the write-permission registers) as an unprotect does.
    static void permitWrites(camsim::Camera& camera) {
        const std::uint8_t pattern[4] = {0x12, 0x12, 0xED, 0xED};
        for (int i = 0; i < 4; ++i)
            camera.pokeRegister(static_cast<std::uint16_t>(0x05F8 + i), pattern[i]);
    }

    // The property calls of one id, in order.
    static std::vector<camsim::PropertyRecord> calls(camsim::Camera& camera, std::uint32_t id) {
        std::vector<camsim::PropertyRecord> out;
        for (const auto& r : camera.log())
            if (r.id == id) out.push_back(r);
        return out;
    }

    // The bytes sent to the flash through the serial-flash byte engine, one vector per chip-select frame.
    static std::vector<std::vector<std::uint8_t>> flashCommands(camsim::Camera& camera) {
        const std::uint16_t dataOut = camera.mapRegister(flashcore::kSfDataOutEntry);
        const std::uint16_t chipSelect = camera.mapRegister(flashcore::kSfChipSelectEntry);
        std::vector<std::vector<std::uint8_t>> frames;
        for (const auto& r : camera.log()) {
            if (r.id != 1 || !r.set || r.payload[3] == 0xFF) continue;
            const std::uint16_t reg = static_cast<std::uint16_t>(r.payload[0] | (r.payload[1] << 8));
            if (reg == chipSelect && r.payload[2] == 0) frames.emplace_back();
            if (reg == dataOut && !frames.empty()) frames.back().push_back(r.payload[2]);
        }
        return frames;
    }
};

} // namespace fwtest
