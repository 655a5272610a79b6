// flashtool info: what the camera is, as the library identifies it.
#include "commands.h"

#include "flashcore.h"
#include "flashcore/connection/chip_table.h"
#include "flashcore/connection/register_map.h"
#include "flashcore/flash/flash_tables.h"

#include <cstdio>

namespace flashtool {

namespace {

const char* transportName(int transport) {
    switch (transport) {
    case 1:
        return "filter driver";
    case 2:
        return "extension unit, 8-byte mode";
    case 3:
        return "extension unit, XU6 block mode";
    default:
        return "?";
    }
}

// Finds the controller's ROM signature the way the library's probe does, through ROM reads.
int readChipFamily(unsigned char* signature) {
    for (std::uint16_t address : flashcore::kSignatureAddresses) {
        if (!ReqToDriver2(9, address, signature, 8)) return -1;
        const int row = flashcore::matchChipRow(address, signature);
        if (row >= 0) return row;
    }
    return -1;
}

// Reads the flash's JEDEC identification (0x9F) through the controller's serial-flash byte engine.
bool readJedecId(const flashcore::RegisterMap& map, unsigned char id[3]) {
    auto reg = [&](int entry) { return map[static_cast<std::size_t>(entry)]; };
    auto ready = [&] {
        unsigned char value = 0;
        return GetSpecReg(reg(flashcore::kSfReadyEntry), &value) && value == 1;
    };
    bool ok = SetSpecReg(reg(flashcore::kSfManualModeEntry), 1) &&
              SetSpecReg(reg(flashcore::kSfChipSelectEntry), 0) &&
              SetSpecReg(reg(flashcore::kSfDataOutEntry), 0x9F) &&
              SetSpecReg(reg(flashcore::kSfTriggerEntry), 1) && ready();
    for (int i = 0; ok && i < 3; ++i) {
        ok = SetSpecReg(reg(flashcore::kSfDataInEntry), 0) &&
             SetSpecReg(reg(flashcore::kSfTriggerEntry), 2) && ready() &&
             GetSpecReg(reg(flashcore::kSfDataInEntry), &id[i]);
    }
    SetSpecReg(reg(flashcore::kSfChipSelectEntry), 1);
    SetSpecReg(reg(flashcore::kSfManualModeEntry), 0);
    return ok;
}

} // namespace

int runInfo(const Options& options) {
    OpenCamera camera(options);
    if (!camera.ok()) return 1;
    const int transport = camera.transport();
    std::printf("transport:       %d (%s)\n", transport, transportName(transport));

    unsigned char signature[8] = {};
    const int family = readChipFamily(signature);
    if (family < 0) return fail("the controller's ROM signature matches no known chip");
    std::printf("chip:            family %d, model %.5s, variant %u\n", family,
                reinterpret_cast<char*>(signature), signature[5]);

    unsigned char mapMarker = 0;
    if (!GetSpecReg(flashcore::kMapSelectRegister, &mapMarker)) return fail("register 0x101F cannot be read");
    const bool mapB = mapMarker == flashcore::kMapBMarker;
    std::printf("register map:    %c\n", mapB ? 'B' : 'A');

    unsigned char id[3] = {};
    if (!readJedecId(mapB ? flashcore::kRegisterMapB : flashcore::kRegisterMapA, id))
        return fail("the flash identification cannot be read");
    const int row = flashcore::lookupFlashId(id[0], id[1], id[2]);
    std::printf("flash id:        %02X %02X %02X (table row %d)\n", id[0], id[1], id[2], row);
    std::printf("flash type code: %d\n", GetFlashType());
    std::printf("command set:     %d\n", flashcore::FlashIdTable[static_cast<std::size_t>(row)].commandSet);

    fw_ulong size = 0, sectorSize = 0;
    if (GetSFSize(&size, &sectorSize)) {
        std::printf("flash size:      %lu bytes, sectors of %lu bytes\n", static_cast<unsigned long>(size),
                    static_cast<unsigned long>(sectorSize));
    } else {
        std::printf("flash size:      not reported by this flash type\n");
    }
    fw_ulong bypass = 0;
    if (!GetBypassLength(&bypass)) return fail("the bypass length cannot be read");
    std::printf("bypass length:   0x%lX\n", static_cast<unsigned long>(bypass));
    return 0;
}

} // namespace flashtool
