// flashtool: the command-line front end, written on the libraries' public C interface.
#include "commands.h"
#include "virtual_camera.h"

#include "flashcore.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace flashtool {

int fail(const std::string& reason) {
    std::fprintf(stderr, "flashtool: %s\n", reason.c_str());
    return 1;
}

OpenCamera::OpenCamera(const Options& options) {
    EnableModeXU6(options.blockMode);
    IsUseFilterDriver(false);
    transport_ = Initialize_DriverInterface(options.waitMs, false);
    if (transport_ == -2)
        fail("no camera found");
    else if (transport_ == -1)
        fail("the video capture devices cannot be listed");
    else if (transport_ <= 0)
        fail("the camera could not be opened");
}

OpenCamera::~OpenCamera() {
    if (transport_ != -1 && transport_ != -2) UnInitialize_DriverInterface();
}

namespace {

void usage() {
    std::puts("usage: flashtool [--camera DIR] [--xu6] COMMAND\n"
              "\n"
              "commands:\n"
              "  info    identify the camera: transport, controller, register map, flash chip\n"
              "\n"
              "options:\n"
              "  --camera DIR  use the virtual camera kept in DIR (Linux; default ~/.flashtool/camera)\n"
              "  --xu6         permit the extension unit's XU6 block mode");
}

} // namespace

} // namespace flashtool

int main(int argc, char** argv) {
    using namespace flashtool;
    Options options;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--camera" && i + 1 < argc) {
            options.cameraDirectory = argv[++i];
        } else if (arg == "--xu6") {
            options.blockMode = true;
        } else if (arg == "-h" || arg == "--help") {
            usage();
            return 0;
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) {
        usage();
        return 2;
    }
    std::string error;
    if (!attachCameras(options.cameraDirectory, error)) return fail(error);
    int status = 0;
    if (args[0] == "info") {
        status = runInfo(options);
    } else {
        usage();
        return fail("unknown command " + args[0]);
    }
    if (!detachCameras(error)) return fail(error);
    return status;
}
