#include "virtual_camera.h"

namespace flashtool {

// Real cameras are simply there; a camera directory has no meaning on Windows.
bool attachCameras(const std::string& directory, std::string& error) {
    if (directory.empty()) return true;
    error = "--camera names a virtual camera, which exists on Linux builds only";
    return false;
}

bool detachCameras(std::string&) {
    return true;
}

} // namespace flashtool
