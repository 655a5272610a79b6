// fwsweep: cuts a burn of a 64 KB image off at every transfer in turn, and unplugs the camera at a spread of
// points, on the virtual camera. After every failed burn the flash must read as empty (no presence marker)
// or hold the whole image, and a following burn must succeed and verify.
//
// Then it cuts a serial-number write (`serial set`, which rewrites the sector of the parameter table in
// place) off at every transfer. A cut before the first sector erase must leave the flash untouched; after
// it, only that sector may differ and the presence marker must stay. The sweep counts what those cuts
// leave, what a second serial-number write makes of it, and checks that a full burn repairs it.
#include "camsim/image_builder.h"
#include "camsim/world.h"
#include "flashcore.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
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

// The serial-number write's sector: the image builder's long layout keeps the parameter table (0x5000) and
// its CRC block (0x5D00) in one 4 KB sector.
constexpr std::size_t kPatchedSector = 0x5000;
constexpr std::size_t kSectorSize = 0x1000;

struct PatchTally {
    std::uint64_t cuts = 0, completed = 0, violations = 0;
    std::uint64_t untouched = 0;            // failed before the first erase: flash as it was
    std::uint64_t patched = 0, damaged = 0; // failed after it: the sector holds the new slot, or neither
    std::uint64_t unprotected = 0;          // failed after it with the flash's protection left off
    // A second serial-number write over a damaged sector: refused, restoring the intended sector, or writing
    // the damaged one back with the new slot and a fresh CRC.
    std::uint64_t retryFailed = 0, retryRestored = 0, retryDamaged = 0;
    std::uint64_t repairFailed = 0; // a full burn afterwards did not restore the image
};

bool sectorEquals(camsim::Camera& camera, const Bytes& image) {
    const auto& flash = camera.flash().contents();
    return std::equal(image.begin() + kPatchedSector, image.begin() + kPatchedSector + kSectorSize,
                      flash.begin() + kPatchedSector);
}

bool outsideSectorEquals(camsim::Camera& camera, const Bytes& image) {
    const auto& flash = camera.flash().contents();
    return std::equal(image.begin(), image.begin() + kPatchedSector, flash.begin()) &&
           std::equal(image.begin() + kPatchedSector + kSectorSize, image.end(),
                      flash.begin() + kPatchedSector + kSectorSize);
}

bool writeSerial(const char* text) {
    return WriteSerialNumberToDevice(text, static_cast<fw_ulong>(std::strlen(text)), 1, nullptr);
}

int sweepSerialSet(bool blockMode) {
    camsim::ImageDescription d;
    d.size = 0x10000;
    const Bytes image = camsim::buildImage(d);
    Bytes patched = image;
    camsim::Camera& camera = freshCamera(blockMode);
    std::copy(image.begin(), image.end(), camera.flash().contents().begin());
    if (!QUELT_SetSerialNumberBinFile("SWEEP-0001", 10, patched.data(),
                                      static_cast<fw_ulong>(patched.size())))
        return 1;
    const std::uint64_t start = camera.counters().transfers;
    if (!writeSerial("SWEEP-0001") || !holds(camera, patched)) return 1;
    const std::uint64_t transfers = camera.counters().transfers - start;

    PatchTally t;
    for (std::uint64_t k = 1; k <= transfers; ++k) {
        // Every cut starts from the burnt image, protected as after its burn.
        std::copy(image.begin(), image.end(), camera.flash().contents().begin());
        camera.flash().setStatusRegister(0x8C);
        const std::uint64_t erases = camera.flash().erasesExecuted();
        camera.faults().failTransfer = camera.counters().transfers + k;
        const bool ok = writeSerial("SWEEP-0001");
        camera.faults().failTransfer = 0;
        ++t.cuts;
        if (ok) {
            ++t.completed;
            if (!holds(camera, patched)) ++t.violations;
            continue;
        }
        if (camera.flash().erasesExecuted() == erases) {
            if (holds(camera, image))
                ++t.untouched;
            else
                ++t.violations;
            continue;
        }
        if (!outsideSectorEquals(camera, image) || QUELT_IsFWEmpty()) ++t.violations;
        if (camera.flash().statusRegister() != 0x8C) ++t.unprotected;
        if (sectorEquals(camera, patched)) {
            ++t.patched;
        } else {
            ++t.damaged;
            if (!writeSerial("SWEEP-0001"))
                ++t.retryFailed;
            else if (holds(camera, patched))
                ++t.retryRestored;
            else
                ++t.retryDamaged;
        }
        Bytes copy = patched;
        if (!BurnBinFileAndStringToDevice(copy.data(), static_cast<fw_ulong>(copy.size()), nullptr, 0, 0,
                                          nullptr) ||
            !holds(camera, patched))
            ++t.repairFailed;
    }
    UnInitialize_DriverInterface();

    const auto n = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
    std::printf("%s mode, serial-number write of one 4 KB sector, %llu transfers\n",
                blockMode ? "XU6" : "8-byte", n(transfers));
    std::printf(
        "  %6llu cut points: %llu before the erase left the flash untouched; %llu after it left the new "
        "sector, %llu an erased or partly written one (%llu with the flash unprotected); %llu "
        "completed, %llu violations\n",
        n(t.cuts), n(t.untouched), n(t.patched), n(t.damaged), n(t.unprotected), n(t.completed),
        n(t.violations));
    std::printf(
        "  a second write over the %llu damaged sectors: %llu refused, %llu restored the intended sector, "
        "%llu wrote the damaged one back with a fresh CRC; full burns that failed to repair: %llu\n",
        n(t.damaged), n(t.retryFailed), n(t.retryRestored), n(t.retryDamaged), n(t.repairFailed));
    return t.violations + t.repairFailed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // The following burn runs after every cut in XU6 mode and after every 25th in 8-byte mode (where a burn
    // takes five times as many transfers); a full 8-byte run takes minutes. --xu6-only skips the 8-byte
    // sweeps, --serial-set-only the burn sweeps.
    bool xu6Only = false, serialSetOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--xu6-only") {
            xu6Only = true;
        } else if (arg == "--serial-set-only") {
            serialSetOnly = true;
        } else {
            std::fprintf(stderr, "usage: fwsweep [--xu6-only] [--serial-set-only]\n");
            return 2;
        }
    }
    int status = 0;
    if (!serialSetOnly) {
        status |= sweep(true, 1);
        if (!xu6Only) status |= sweep(false, 25);
    }
    status |= sweepSerialSet(true);
    if (!xu6Only) status |= sweepSerialSet(false);
    return status;
}
