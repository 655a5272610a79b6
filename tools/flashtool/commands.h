// flashtool's commands and what they share.
#pragma once

#include <string>

namespace flashtool {

struct Options {
    std::string cameraDirectory; // --camera DIR (virtual cameras)
    int waitMs = 1500;           // power-up wait passed to the open
    bool blockMode = false;      // --xu6: permit XU6 block mode
};

// Prints a one-line reason on standard error and returns the failing exit code.
int fail(const std::string& reason);

// The camera on slot 0, opened through the extension unit for the life of the object.
class OpenCamera {
  public:
    explicit OpenCamera(const Options& options);
    ~OpenCamera();
    OpenCamera(const OpenCamera&) = delete;
    OpenCamera& operator=(const OpenCamera&) = delete;
    bool ok() const { return transport_ > 0; }
    int transport() const { return transport_; }

  private:
    int transport_ = 0;
};

int runInfo(const Options& options);

} // namespace flashtool
