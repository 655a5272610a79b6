// flashtool: the command-line front end, written on the libraries' public C interface.
#include "commands.h"
#include "virtual_camera.h"

#include "flashcore.h"

#include <cstdio>
#include <cstdlib>
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
    std::puts(
        "usage: flashtool [options] COMMAND [ARGS]\n"
        "\n"
        "camera commands:\n"
        "  info              identify the camera: transport, controller, register map, flash chip\n"
        "  burn IMAGE        burn an image file (unprotect, erase, write, protect, verify), then reset\n"
        "                    the camera; --serial TEXT or --manufacturer TEXT [--plain] stamps a string\n"
        "                    into the image first\n"
        "  verify IMAGE      compare the flash with an image file\n"
        "  erase             erase the flash (with write protection handling)\n"
        "  read FILE         dump the flash into FILE (--length N, default the flash size)\n"
        "  version           the firmware's code version\n"
        "  ids               vendor id, product id and bcdDevice in the flash and as the host sees them\n"
        "  strings           the string slots in the flash and the strings the host sees\n"
        "  serial get|set TEXT\n"
        "                    read or write the serial number in the flash; set resets the camera\n"
        "  manufacturer get|set TEXT [--plain]\n"
        "                    the same for the manufacturer name (--plain: the plain slot of the CRC block)\n"
        "image commands (no camera):\n"
        "  image new FILE    write a sample image (--chip, --variant, --length, --serial, --manufacturer)\n"
        "  image info IMAGE  show an image as a controller model reads it (--chip, --variant)\n"
        "\n"
        "options:\n"
        "  --camera DIR      use the virtual camera kept in DIR (Linux; default ~/.flashtool/camera)\n"
        "  --xu6             permit the extension unit's XU6 block mode\n"
        "  --chip MODEL      controller model code, e.g. T465M (default)\n"
        "  --variant N       variant byte of the model (default 1)\n"
        "  --length N        byte count (decimal or 0x...)\n"
        "  --serial TEXT, --manufacturer TEXT, --plain\n"
        "                    the string of image new and burn (at most 31 characters)");
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
        } else if (arg == "--chip" && i + 1 < argc) {
            options.chip = argv[++i];
        } else if (arg == "--variant" && i + 1 < argc) {
            options.variant = std::atoi(argv[++i]);
        } else if (arg == "--length" && i + 1 < argc) {
            options.length = static_cast<fw_ulong>(std::strtoul(argv[++i], nullptr, 0));
        } else if (arg == "--serial" && i + 1 < argc) {
            options.serial = argv[++i];
        } else if (arg == "--manufacturer" && i + 1 < argc) {
            options.manufacturer = argv[++i];
        } else if (arg == "--plain") {
            options.plain = true;
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
    const std::string& command = args[0];
    const std::string argument = args.size() > 1 ? args[1] : std::string();
    const bool imageCommand = command == "image";
    if (imageCommand) {
        if (args.size() != 3) return fail("image takes a subcommand and a file");
        if (args[1] == "new") return runImageNew(options, args[2]);
        if (args[1] == "info") return runImageInfo(options, args[2]);
        return fail("unknown image subcommand " + args[1]);
    }
    const bool needsFile = command == "burn" || command == "verify" || command == "read";
    if (needsFile && args.size() != 2) return fail(command + " takes one file");

    std::string error;
    if (!attachCameras(options.cameraDirectory, error)) return fail(error);
    int status = 0;
    if (command == "info") {
        status = runInfo(options);
    } else if (command == "burn") {
        status = runBurn(options, argument);
    } else if (command == "verify") {
        status = runVerify(options, argument);
    } else if (command == "erase") {
        status = runErase(options);
    } else if (command == "read") {
        status = runRead(options, argument);
    } else if (command == "version") {
        status = runVersion(options);
    } else if (command == "ids") {
        status = runIds(options);
    } else if (command == "strings") {
        status = runStrings(options);
    } else if (command == "serial") {
        status = runSerial(options, args);
    } else if (command == "manufacturer") {
        status = runManufacturer(options, args);
    } else {
        usage();
        status = fail("unknown command " + command);
    }
    if (!detachCameras(error)) return fail(error);
    return status;
}
