// fwsweep: cuts a burn of a 64 KB image off at every transfer in turn, and unplugs the camera at a spread of
// points, on the virtual camera. After every failed burn the flash must read as empty (no presence marker)
// or hold the whole image, and a following burn must succeed and verify.
#include "camsim/image_builder.h"
#include "camsim/world.h"
#include "flashcore.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

struct Tally {
    std::uint64_t cuts = 0, empty = 0, whole = 0, completed = 0, violations = 0, followingFailed = 0;
};

bool burn(const Bytes& image) {
    Bytes copy = image;
    return BurnBinFileAndStringToDevice(copy.data(), static_cast<fw_ulong>(copy.size()), nullptr, 0, 0,
                                        nullptr);
}

bool holds(camsim::Camera& camera, const Bytes& image) {
    return std::equal(image.begin(), image.end(), camera.flash().contents().begin());
}

void judge(camsim::Camera& camera, const Bytes& image, Tally& t) {
    const bool empty = QUELT_IsFWEmpty();
    const bool whole = holds(camera, image);
    if (whole)
        ++t.whole;
    else if (empty)
        ++t.empty;
    else
        ++t.violations;
}

camsim::Camera& freshCamera(bool blockMode) {
    camsim::World& world = camsim::World::global();
    world.clear();
    camsim::CameraConfig config;
    config.wpPin = 1;
    config.flash.status = 0x8C;
    camsim::Camera& camera = world.attach(config);
    camera.setLogging(false);
    EnableModeXU6(blockMode);
    IsUseFilterDriver(false);
    Initialize_DriverInterface(0, false);
    return camera;
}

int sweep(bool blockMode, std::uint64_t followEvery) {
    camsim::ImageDescription d;
    d.size = 0x10000;
    const Bytes image = camsim::buildImage(d);
    camsim::Camera& camera = freshCamera(blockMode);
    std::uint64_t start = camera.counters().transfers;
    if (!burn(image)) return 1;
    const std::uint64_t transfers = camera.counters().transfers - start;
    camera.flash().contents().assign(camera.flash().contents().size(), 0xFF);

    Tally cut;
    for (std::uint64_t k = 1; k <= transfers; ++k) {
        camera.faults().failTransfer = camera.counters().transfers + k;
        const bool ok = burn(image);
        camera.faults().failTransfer = 0;
        ++cut.cuts;
        if (ok) {
            ++cut.completed;
        } else {
            judge(camera, image, cut);
        }
        if (k % followEvery == 0 && !burn(image)) ++cut.followingFailed;
    }
    if (!burn(image)) ++cut.followingFailed;

    Tally unplug;
    for (std::uint64_t k = 1; k <= transfers; k += transfers / 50) {
        camera.faults().unplugAtTransfer = camera.counters().transfers + k;
        const bool ok = burn(image);
        camera.faults().unplugAtTransfer = 0;
        ++unplug.cuts;
        UnInitialize_DriverInterface();
        camera.plugIn();
        Initialize_DriverInterface(0, false);
        if (ok) {
            ++unplug.completed;
        } else {
            judge(camera, image, unplug);
        }
        if (!burn(image)) ++unplug.followingFailed;
    }
    UnInitialize_DriverInterface();

    const char* mode = blockMode ? "XU6" : "8-byte";
    std::printf("%s mode, 64 KB image, %llu transfers per burn\n", mode,
                static_cast<unsigned long long>(transfers));
    for (const auto& [name, t] : {std::pair{"failed transfer", cut}, std::pair{"unplug", unplug}}) {
        std::printf("  %-15s %6llu cut points: %6llu left empty, %6llu left the whole image, %llu completed, "
                    "%llu violations; following burns failed: %llu\n",
                    name, static_cast<unsigned long long>(t.cuts), static_cast<unsigned long long>(t.empty),
                    static_cast<unsigned long long>(t.whole), static_cast<unsigned long long>(t.completed),
                    static_cast<unsigned long long>(t.violations),
                    static_cast<unsigned long long>(t.followingFailed));
    }
    return cut.violations + unplug.violations + cut.followingFailed + unplug.followingFailed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // The following burn runs after every cut in XU6 mode and after every 25th in 8-byte mode (where a burn
    // takes five times as many transfers); a full 8-byte run takes minutes.
    const bool quick = argc > 1 && std::string_view(argv[1]) == "--xu6-only";
    int status = sweep(true, 1);
    if (!quick) status |= sweep(false, 25);
    return status;
}
