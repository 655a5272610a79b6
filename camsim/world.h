// The simulated host's world: the attached cameras, the USB hub tree they hang in and the virtual clock. The
// libraries built for Linux reach it through the platform seam; tests build worlds through this API, tools
// load them from world files.
#pragma once

#include "camsim/camera.h"
#include "camsim/clock.h"
#include "camsim/hub.h"

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
    // Detaches every camera and clears the hub faults; the clock and the logs are kept.
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

    // Faults of the hubs in the USB tree (camsim/hub.h), and the requests the hubs received.
    HubFaults& hubFaults() { return hubFaults_; }
    const HubFaults& hubFaults() const { return hubFaults_; }
    std::vector<HubRequest>& hubLog() { return hubLog_; }

  private:
    VirtualClock clock_;
    std::vector<std::shared_ptr<Camera>> cameras_;
    std::vector<std::string> debugOutput_;
    int comApartments_ = 0;
    HubFaults hubFaults_;
    std::vector<HubRequest> hubLog_;
};

} // namespace camsim
