// flashtool's commands and what they share.
#pragma once

#include "fwtypes.h"

#include <string>
#include <vector>

namespace flashtool {

struct Options {
    std::string cameraDirectory; // --camera DIR (virtual cameras)
    int waitMs = 1500;           // power-up wait passed to the open
    bool blockMode = false;      // --xu6: permit XU6 block mode
    std::string chip = "T465M";  // --chip MODEL (image commands)
    int variant = 1;             // --variant N
    fw_ulong length = 0;         // --length N (read; image new: image size)
    std::string serial;          // --serial TEXT (image new, burn)
    std::string manufacturer;    // --manufacturer TEXT (image new, burn)
    bool plain = false;          // --plain: the plain manufacturer slot (manufacturer, burn)
};

// Prints a one-line reason on standard error and returns the failing exit code.
int fail(const std::string& reason);

// Reads an image file; prints the reason and returns false when it cannot.
bool readImage(const std::string& path, std::vector<unsigned char>& image);

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
int runBurn(const Options& options, const std::string& path);
int runVerify(const Options& options, const std::string& path);
int runErase(const Options& options);
int runRead(const Options& options, const std::string& path);
int runVersion(const Options& options);
int runIds(const Options& options);
int runStrings(const Options& options);
// `args` holds the command, get or set, and the text of a set.
int runSerial(const Options& options, const std::vector<std::string>& args);
int runManufacturer(const Options& options, const std::vector<std::string>& args);
int runImageNew(const Options& options, const std::string& path);
int runImageInfo(const Options& options, const std::string& path);

} // namespace flashtool
