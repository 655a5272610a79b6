// flashtool's identity commands: the USB ids and strings in the flash and as the camera reported them to the
// host, and reading and writing the serial number and the manufacturer name in place.
#include "commands.h"

#include "flashcore.h"

#include <cstdio>
#include <string>

namespace flashtool {

namespace {

constexpr unsigned short kKindManufacturer = 0;
constexpr unsigned short kKindSerialNumber = 1;
constexpr unsigned short kKindPlainManufacturer = 2;
constexpr std::size_t kMaxText = 31;

using StringGetter = bool (*)(char*, fw_ulong);
using IdGetter = bool (*)(unsigned short*);

// A string as a getter reports it, quoted, or "-" when it has none to report. The getters copy exactly the
// text, without a terminating zero; the zeroed buffer ends it.
std::string quoted(StringGetter get) {
    char text[65] = {};
    if (!get || !get(text, 64)) return "-";
    std::string shown = "\"";
    shown.append(text).push_back('"');
    return shown;
}

std::string hex(IdGetter get) {
    unsigned short value = 0;
    if (!get(&value)) return "-";
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

bool hostFoundTheCamera() {
    unsigned short value = 0;
    return QUELT_GetVIDDevDesc(&value);
}

// After a change of the firmware's identity the camera restarts, so the host sees the new one.
int resetAfterChange(const std::string& what) {
    if (ResetDevice() == 0) return fail(what + ", but the camera could not be reset");
    std::printf("%s; camera reset\n", what.c_str());
    return 0;
}

int getString(const Options& options, unsigned short kind, const char* name) {
    OpenCamera camera(options);
    if (!camera.ok()) return 1;
    if (QUELT_IsFWEmpty()) return fail("the flash holds no complete image");
    char text[65] = {};
    if (!ReadSerialNumberFromDevice(text, 64, kind))
        return fail(std::string("the ") + name + " cannot be read from the flash");
    std::printf("%s\n", text);
    return 0;
}

int setString(const Options& options, unsigned short kind, const char* name, const std::string& text) {
    if (text.size() > kMaxText) return fail(std::string("a ") + name + " holds at most 31 characters");
    OpenCamera camera(options);
    if (!camera.ok()) return 1;
    if (QUELT_IsFWEmpty()) return fail("the flash holds no complete image; burn one first");
    fw_ulong latched = 0;
    const bool ok =
        WriteSerialNumberToDevice(text.c_str(), static_cast<fw_ulong>(text.size()), kind, &latched);
    if (latched) return fail("the camera's flash is hardware write-protected");
    if (!ok)
        return fail(std::string("writing the ") + name +
                    " failed (the parameter table may be damaged now; burn the whole image again)");
    return resetAfterChange(std::string(name) + " set to \"" + text + "\"");
}

// `serial get|set TEXT` and `manufacturer get|set TEXT [--plain]`.
int runStringCommand(const Options& options, const std::vector<std::string>& args, unsigned short kind,
                     const char* name) {
    const std::string verb = args.size() > 1 ? args[1] : std::string();
    if (verb == "get" && args.size() == 2) return getString(options, kind, name);
    if (verb == "set" && args.size() == 3) return setString(options, kind, name, args[2]);
    return fail(args[0] + " takes get, or set and one text");
}

} // namespace

int runIds(const Options& options) {
    OpenCamera camera(options);
    if (!camera.ok()) return 1;
    std::printf("                 flash    host\n");
    std::printf("vendor id:       %-8s %s\n", hex(QUELT_GetVID).c_str(), hex(QUELT_GetVIDDevDesc).c_str());
    std::printf("product id:      %-8s %s\n", hex(QUELT_GetPID).c_str(), hex(QUELT_GetPIDDevDesc).c_str());
    std::printf("bcdDevice:       %-8s %s\n", hex(QUELT_GetBCD).c_str(), hex(QUELT_GetBCDDevDesc).c_str());
    unsigned short vid = 0;
    if (!QUELT_GetVID(&vid)) return fail("the USB ids cannot be read from the flash");
    if (!hostFoundTheCamera()) return fail("the camera was not found on the USB hubs");
    return 0;
}

int runStrings(const Options& options) {
    OpenCamera camera(options);
    if (!camera.ok()) return 1;
    struct Row {
        const char* name;
        StringGetter flash;
        StringGetter host;
    };
    const Row rows[] = {
        {"product:", QUELT_GetProduct, QUELT_GetProductDevDesc},
        {"manufacturer:", QUELT_GetManufacturer, QUELT_GetManufacturerDevDesc},
        {"serial number:", QUELT_GetSerialNumber, QUELT_GetSerialNumberDevDesc},
        {"interface:", QUELT_GetInterface, nullptr},
        {"plain maker:", QUELT_GetManufacturerNoCRCProtect, nullptr},
    };
    std::printf("%-17s%-34s %s\n", "", "flash", "host");
    for (const Row& row : rows)
        std::printf("%-17s%-34s %s\n", row.name, quoted(row.flash).c_str(), quoted(row.host).c_str());
    if (QUELT_IsFWEmpty()) return fail("the flash holds no complete image");
    if (!hostFoundTheCamera()) return fail("the camera was not found on the USB hubs");
    return 0;
}

int runSerial(const Options& options, const std::vector<std::string>& args) {
    return runStringCommand(options, args, kKindSerialNumber, "serial number");
}

int runManufacturer(const Options& options, const std::vector<std::string>& args) {
    return runStringCommand(options, args, options.plain ? kKindPlainManufacturer : kKindManufacturer,
                            options.plain ? "plain manufacturer name" : "manufacturer name");
}

} // namespace flashtool
