#include "virtual_camera.h"

#include "camsim/image_builder.h"
#include "camsim/world.h"

#include <cstdlib>
#include <filesystem>

namespace flashtool {

namespace {

namespace fs = std::filesystem;

std::string worldFile;

std::string defaultDirectory() {
    const char* home = std::getenv("HOME");
    return (fs::path(home && *home ? home : ".") / ".flashtool" / "camera").string();
}

// The built-in camera: a T465M-class controller on register map B with a 128 KB serial flash holding a
// sample firmware, its write-protect input wired to GPIO 1.
camsim::CameraConfig defaultCamera() {
    camsim::CameraConfig config;
    config.family = 13;
    config.registerMap = 'B';
    config.flash.manufacturer = 0xA1;
    config.flash.id1 = 0x31;
    config.flash.id2 = 0x11;
    config.flash.size = 0x20000;
    config.flash.status = 0x8C;
    camsim::ImageDescription image;
    image.paraTableStart = 0x15000;
    config.firmware = camsim::buildImage(image);
    config.wpPin = 1;
    config.ports = {3, 1};
    return config;
}

} // namespace

bool attachCameras(const std::string& directory, std::string& error) {
    const fs::path dir = directory.empty() ? defaultDirectory() : directory;
    worldFile = (dir / "world.json").string();
    camsim::World& world = camsim::World::global();
    if (!fs::exists(worldFile)) {
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (ec) {
            error = "cannot create " + dir.string() + ": " + ec.message();
            return false;
        }
        world.clear();
        world.attach(defaultCamera());
        return world.save(worldFile, error);
    }
    return world.load(worldFile, error);
}

bool detachCameras(std::string& error) {
    return camsim::World::global().save(worldFile, error);
}

} // namespace flashtool
