#include "camsim/world.h"

#include <cstdlib>

namespace camsim {

World& World::global() {
    static World* world = [] {
        auto* w = new World;
        if (const char* path = std::getenv("CAMSIM_WORLD"); path && *path) {
            std::string error;
            if (!w->load(path, error)) w->debugOutput_.push_back("camsim: " + error);
        }
        return w;
    }();
    return *world;
}

Camera& World::attach(const CameraConfig& config) {
    cameras_.push_back(std::make_shared<Camera>(config, clock_));
    return *cameras_.back();
}

void World::clear() {
    cameras_.clear();
    hubFaults_ = {};
}

} // namespace camsim
