// The simulated host's world: the attached cameras and the virtual clock. The libraries built for Linux reach
// it through the platform seam; tests build worlds through this API, tools load them from world files.
#pragma once

#include "camsim/camera.h"
#include "camsim/clock.h"

#include <memory>
#include <string>
#include <vector>

namespace camsim {

class World {
  public:
    // The process-wide world. On first use it loads the world file named by CAMSIM_WORLD, when set.
    static World& global();

    VirtualClock& clock() { return clock_; }
    const VirtualClock& clock() const { return clock_; }

    // Attaches a camera (plugged in, as after power-up) and returns it.
    Camera& attach(const CameraConfig& config);
    // Detaches every camera; the clock and the logs are kept.
    void clear();
    const std::vector<std::shared_ptr<Camera>>& cameras() const { return cameras_; }
    Camera& camera(std::size_t index) { return *cameras_.at(index); }

    // World files (JSON). Loading replaces the attached cameras; a camera's flash file is read relative to
    // the world file. Saving writes the world file and every camera's flash next to it.
    bool load(const std::string& path, std::string& error);
    bool save(const std::string& path, std::string& error) const;

    // What the libraries sent to the debug output, and how COM was used.
    std::vector<std::string>& debugOutput() { return debugOutput_; }
    int comApartments() const { return comApartments_; }
    void enterComApartment() { ++comApartments_; }
    void leaveComApartment() { --comApartments_; }

  private:
    VirtualClock clock_;
    std::vector<std::shared_ptr<Camera>> cameras_;
    std::vector<std::string> debugOutput_;
    int comApartments_ = 0;
};

} // namespace camsim
