// The virtual camera's clock: time passes only when the simulated host sleeps or the camera is busy, so
// time-dependent behaviour is exact and tests never wait on the wall clock.
#pragma once

#include <cstdint>

namespace camsim {

class VirtualClock {
  public:
    std::uint64_t nowUs() const { return nowUs_; }
    void advanceUs(std::uint64_t us) { nowUs_ += us; }
    void advanceToUs(std::uint64_t us) {
        if (us > nowUs_) nowUs_ = us;
    }

  private:
    std::uint64_t nowUs_ = 0;
};

} // namespace camsim
