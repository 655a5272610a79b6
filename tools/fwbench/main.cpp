// fwbench: how many extension-unit property calls flashcore's memory transfers make on the virtual camera,
// against the fewest the transfer rules allow, with the modeled bus time and the host CPU time per call; and
// what whole burns cost: property calls, register accesses, modeled duration and host CPU time.
#include "camsim/image_builder.h"
#include "camsim/world.h"
#include "flashcore.h"

#include <cstdio>
#include <ctime>
#include <vector>

namespace {

// The fewest property calls a transfer of `length` bytes at address 0 can take: 8-byte mode moves 8 bytes
// per call and reads need one request below 0x10000 plus one per piece above it; XU6 block mode moves 64
// bytes per call after one header. Both add the two register writes of the family preparation.
std::uint64_t minimumCalls(bool blockMode, bool write, std::uint32_t length) {
    const std::uint64_t preparation = 2;
    if (blockMode) return preparation + 1 + (length + 63) / 64;
    const std::uint64_t pieces = (length + 7) / 8;
    if (write) return preparation + pieces;
    const std::uint64_t high = length > 0x10000 ? (length - 0x10000) / 8 : 0;
    return preparation + 1 + pieces + high;
}

int run(bool blockMode, bool write, std::uint32_t length) {
    camsim::World& world = camsim::World::global();
    world.clear();
    camsim::CameraConfig config;
    config.flash.size = 0x20000;
    camsim::Camera& camera = world.attach(config);
    camera.setLogging(false);
    EnableModeXU6(blockMode);
    IsUseFilterDriver(false);
    if (Initialize_DriverInterface(0, false) <= 0) return 1;
    for (int i = 0; i < 4; ++i)
        ProcWriteToASIC(static_cast<unsigned short>(0x05F8 + i), i < 2 ? 0x12 : 0xED);

    std::vector<unsigned char> data(length, 0x5A);
    camera.counters() = {};
    const std::uint64_t startUs = world.clock().nowUs();
    const std::clock_t startCpu = std::clock();
    const bool ok = ReqToDriver2(write ? 6 : 7, 0, data.data(), length);
    const double cpuUs = 1e6 * static_cast<double>(std::clock() - startCpu) / CLOCKS_PER_SEC;
    const std::uint64_t calls = camera.counters().propertyCalls();
    UnInitialize_DriverInterface();
    if (!ok) return 1;
    std::printf("%-6s %-5s %4u KB  %7llu calls (minimum %7llu)  bus %8.3f s  host %6.2f us/call\n",
                blockMode ? "XU6" : "8-byte", write ? "write" : "read", length / 1024,
                static_cast<unsigned long long>(calls),
                static_cast<unsigned long long>(minimumCalls(blockMode, write, length)),
                static_cast<double>(world.clock().nowUs() - startUs) / 1e6,
                cpuUs / static_cast<double>(calls));
    return 0;
}

} // namespace

// A whole burn (unprotect, erase, write, protect, read-back and compare) of an image of `length` bytes.
int runBurn(bool blockMode, std::uint32_t length) {
    camsim::World& world = camsim::World::global();
    world.clear();
    camsim::CameraConfig config;
    config.flash.size = 0x20000;
    config.flash.status = 0x8C;
    config.wpPin = 1;
    camsim::Camera& camera = world.attach(config);
    camera.setLogging(false);
    EnableModeXU6(blockMode);
    IsUseFilterDriver(false);
    if (Initialize_DriverInterface(0, false) <= 0) return 1;
    camsim::ImageDescription description;
    description.size = length;
    std::vector<unsigned char> image = camsim::buildImage(description);

    camera.counters() = {};
    const std::uint64_t startUs = world.clock().nowUs();
    const std::clock_t startCpu = std::clock();
    const bool ok = BurnBinFileAndStringToDevice(image.data(), length, nullptr, 0, 0, nullptr);
    const double cpuMs = 1e3 * static_cast<double>(std::clock() - startCpu) / CLOCKS_PER_SEC;
    const camsim::Counters& c = camera.counters();
    UnInitialize_DriverInterface();
    if (!ok) return 1;
    std::printf(
        "%-6s burn  %4u KB  %7llu calls  %6llu register reads  %6llu register writes  modeled %7.3f s  "
        "host %7.1f ms\n",
        blockMode ? "XU6" : "8-byte", length / 1024, static_cast<unsigned long long>(c.propertyCalls()),
        static_cast<unsigned long long>(c.registerReads), static_cast<unsigned long long>(c.registerWrites),
        static_cast<double>(world.clock().nowUs() - startUs) / 1e6, cpuMs);
    return 0;
}

int main() {
    std::puts("memory transfers on the virtual camera (1 ms modeled bus time per property call)");
    int status = 0;
    for (bool blockMode : {false, true})
        for (bool write : {false, true})
            for (std::uint32_t length : {0x10000u, 0x20000u})
                status |= run(blockMode, write, length);
    std::puts("\nwhole burns (unprotect, erase, write, protect, read-back) of sample images");
    for (bool blockMode : {false, true})
        for (std::uint32_t length : {0x10000u, 0x20000u})
            status |= runBurn(blockMode, length);
    return status;
}
