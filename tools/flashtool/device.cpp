// flashtool's camera commands: burn, verify, erase, read, version.
#include "commands.h"

#include "flashcore.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

namespace flashtool {

namespace {

bool readFile(const std::string& path, std::vector<unsigned char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Draws the progress of the running burn in place until `done` is set: the current memory transfer and,
// for long writes in 8-byte mode, the burn percentage.
void drawProgress(const std::atomic<bool>& done) {
    int last = -1;
    for (bool finished = false; !finished;) {
        finished = done;
        int burn = 0;
        GetBurnPercent(&burn);
        const int transfer = GetProgress();
        const int shown = transfer * 1000 + burn;
        if (shown != last) {
            const int filled = transfer / 5;
            std::fprintf(stderr, "\r[%.*s%*s] transfer %3d%%  burn %3d%%", filled, "####################",
                         20 - filled, "", transfer, burn);
            last = shown;
        }
        if (!finished) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fputc('\n', stderr);
}

} // namespace

bool readImage(const std::string& path, std::vector<unsigned char>& image) {
    if (!readFile(path, image)) return fail("cannot read " + path) == 0;
    if (image.empty()) return fail(path + " is empty") == 0;
    return true;
}

int runBurn(const Options& options, const std::string& path) {
    // The string stamped into the image before the burn: kind 1 serial number, 0 manufacturer, 2 the plain
    // manufacturer slot.
    if (!options.serial.empty() && !options.manufacturer.empty())
        return fail("burn takes --serial or --manufacturer, not both");
    const std::string& text = options.serial.empty() ? options.manufacturer : options.serial;
    const unsigned short kind = !options.serial.empty() ? 1 : options.plain ? 2 : 0;
    if (text.size() > 31) return fail("a string stamped into the image holds at most 31 characters");
    std::vector<unsigned char> image;
    if (!readImage(path, image)) return 1;
    OpenCamera camera(options);
    if (!camera.ok()) return 1;
    std::atomic<bool> done{false};
    std::thread progress(drawProgress, std::cref(done));
    fw_ulong latched = 0;
    const bool ok =
        BurnBinFileAndStringToDevice(image.data(), static_cast<fw_ulong>(image.size()), text.c_str(),
                                     static_cast<fw_ulong>(text.size()), kind, &latched);
    done = true;
    progress.join();
    if (latched) return fail("the camera's flash is hardware write-protected");
    if (!ok) return fail("the burn failed (the flash may be empty now; burn again)");
    const std::string stamped = text.empty() ? "" : " with \"" + text + "\"";
    std::printf("burnt and verified %zu bytes from %s%s\n", image.size(), path.c_str(), stamped.c_str());
    // The camera restarts with the new firmware, so the host sees its identity.
    if (ResetDevice() == 0) return fail("the camera could not be reset");
    return 0;
}

int runVerify(const Options& options, const std::string& path) {
    std::vector<unsigned char> image;
    if (!readImage(path, image)) return 1;
    OpenCamera camera(options);
    if (!camera.ok()) return 1;
    std::vector<unsigned char> flash(image.size());
    if (!ReqToDriver(7, 0, flash.data(), static_cast<fw_ulong>(flash.size())))
        return fail("the flash cannot be read");
    for (std::size_t i = 0; i < image.size(); ++i) {
        if (flash[i] != image[i]) {
            char where[96];
            std::snprintf(where, sizeof where,
                          "the flash differs from the image at 0x%zX (0x%02X, image 0x%02X)", i, flash[i],
                          image[i]);
            return fail(where);
        }
    }
    std::printf("the flash holds %s (%zu bytes)\n", path.c_str(), image.size());
    return 0;
}

int runErase(const Options& options) {
    OpenCamera camera(options);
    if (!camera.ok()) return 1;
    if (!EraseDeviceFW()) return fail("the erase failed");
    std::puts("flash erased");
    return 0;
}

int runRead(const Options& options, const std::string& path) {
    OpenCamera camera(options);
    if (!camera.ok()) return 1;
    fw_ulong size = options.length, sectorSize = 0;
    if (size == 0 && !GetSFSize(&size, &sectorSize)) return fail("the flash size is unknown; give --length");
    std::vector<unsigned char> flash(size);
    if (!ReqToDriver(7, 0, flash.data(), size)) return fail("the flash cannot be read");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash.data()), static_cast<std::streamsize>(flash.size()));
    if (!out) return fail("cannot write " + path);
    std::printf("read %lu bytes into %s\n", static_cast<unsigned long>(size), path.c_str());
    return 0;
}

int runVersion(const Options& options) {
    OpenCamera camera(options);
    if (!camera.ok()) return 1;
    unsigned char text[25] = {};
    if (!GetCodeVersion(text)) return fail("the code version cannot be read");
    std::printf("%.24s\n", reinterpret_cast<char*>(text));
    std::printf("flash %s\n", QUELT_IsFWEmpty() ? "empty (no complete image)" : "holds a complete image");
    return 0;
}

} // namespace flashtool
