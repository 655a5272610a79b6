// One virtual camera: its controller (registers, register map, ROM signature, serial-flash byte engine, the
// controller's own flash writer, memory information, write permission, GPIO and write-protect pin), its SPI
// flash chip, its vendor extension unit and what it shows the host as a capture device.
#pragma once

#include "camsim/clock.h"
#include "camsim/spi_flash.h"
#include "flashcore/connection/register_map.h"
#include "platform/com.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace camsim {

struct CameraConfig {
    int family = 13; // chip family: row of the controller table
    char registerMap = 'B';
    // What register 0x101F reads on map A chips while bit 4 of 0x100A is clear (map B chips read 0xAA).
    std::uint8_t chipId = 0x70;
    // The level of each GPIO pin while it is an input, as the board's pull-ups and strap resistors set it:
    // bit n for pin n, read through the GPIO input register 0x1005.
    std::uint8_t straps = 0xFF;
    FlashChipConfig flash;
    std::vector<std::uint8_t> firmware; // initial flash contents from address 0; empty = erased
    std::optional<std::u16string> friendlyName = u"USB Camera";
    int filterInstance = 0;       // 0 = no filter driver, 1..24 = that instance
    std::optional<int> wpPin;     // GPIO bit wired to the flash's WP# input; absent = tied high
    bool wpPinInverted = false;   // the pin drives WP# through an inverter
    std::vector<int> ports = {1}; // hub port chain, device first
    bool devSpecificNode = true;  // the topology reports the extension unit as a vendor-specific node
    std::uint32_t extensionUnitNode = 2;
    std::uint8_t memoryType = 2;
    std::uint16_t sectorTableAddress = 0x9000;
    std::map<std::uint16_t, std::uint8_t> registers; // initial values of further registers
    std::uint32_t busTimeUs = 1000;                  // modeled cost of one control transfer
    std::string flashFile;                           // where the flash contents are saved (world files)
    // The string indices the device descriptor names: iManufacturer, iProduct, iSerialNumber.
    std::array<std::uint8_t, 3> stringIndices = {1, 2, 3};
};

// What happened on the extension unit, for tests and benchmarks.
struct Counters {
    std::array<std::uint64_t, 7> propertySets{};
    std::array<std::uint64_t, 7> propertyGets{};
    std::uint64_t transfers = 0;
    std::uint64_t failedTransfers = 0;
    std::uint64_t registerReads = 0;
    std::uint64_t registerWrites = 0;
    std::uint64_t memoryBytesWritten = 0;
    std::uint64_t memoryBytesRead = 0;
    std::uint64_t droppedWrites = 0; // memory writes refused by the write-permission registers
    std::uint64_t propertyCalls() const;
};

// Injected faults. Transfer numbers count every property call of the camera from 1.
struct Faults {
    std::uint64_t failTransfer = 0;      // fail this one transfer
    std::uint64_t failAfterTransfer = 0; // fail every transfer after this one
    std::uint64_t unplugAtTransfer = 0;  // the camera disappears at this transfer
    bool failPropertyBag = false;        // binding the device's property bag fails
    // Raw replies that replace string descriptor k as the device sends it; an empty reply stalls the request.
    std::map<std::uint8_t, std::vector<std::uint8_t>> stringDescriptors;
};

// One property call as the camera saw it: the payload sent (set) or returned (get).
struct PropertyRecord {
    std::uint32_t id;
    bool set;
    std::vector<std::uint8_t> payload;
};

struct UsbIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t deviceRelease = 0;
    std::array<std::string, 4> strings; // product, manufacturer, serial number, interface
};

class Camera {
  public:
    Camera(const CameraConfig& config, VirtualClock& clock);

    const CameraConfig& config() const { return config_; }
    const std::array<std::uint8_t, 8>& romSignature() const { return signature_; }

    // Capture-device view.
    bool plugged() const { return plugged_; }
    void unplug() { plugged_ = false; }
    // Plugs the camera back in: it powers up as after a reset.
    void plugIn() {
        plugged_ = true;
        reset();
    }
    std::u16string devicePath() const;
    std::vector<platform::Guid> topologyNodeTypes() const;

    // One kernel-streaming property call of the vendor property set on `node`.
    platform::HResult property(std::uint32_t id, bool set, std::uint32_t node, std::uint8_t* data,
                               std::uint32_t length, std::uint32_t& returned);

    // Reset (or plug-in): the controller restarts and reports the USB identity of the firmware in its flash.
    void reset();
    const UsbIdentity& identity() const { return identity_; }

    // Direct views for tests and tools (no side effects, no transfer cost).
    std::uint8_t peekRegister(std::uint16_t reg) const { return regs_[reg]; }
    void pokeRegister(std::uint16_t reg, std::uint8_t value) { regs_[reg] = value; }
    void pokeRom(std::uint16_t address, std::uint8_t value) { rom_[address] = value; }
    SpiFlash& flash() { return flash_; }
    const SpiFlash& flash() const { return flash_; }
    Counters& counters() { return counters_; }
    Faults& faults() { return faults_; }
    std::vector<PropertyRecord>& log() { return log_; }
    void setLogging(bool on) { logging_ = on; }
    std::uint16_t mapRegister(int entry) const { return (*map_)[static_cast<std::size_t>(entry)]; }

  private:
    bool transferFails();
    platform::HResult handleSet(std::uint32_t id, const std::uint8_t* data, std::uint32_t length);
    platform::HResult handleGet(std::uint32_t id, std::uint8_t* data, std::uint32_t length);

    std::uint8_t readRegister(std::uint16_t reg);
    void writeRegister(std::uint16_t reg, std::uint8_t value);
    std::uint8_t pinLevels() const;
    void updateWriteProtectPin();
    void engineTransfer(std::uint8_t trigger);

    bool writePermitted() const;
    void writeMemory(std::uint32_t address, const std::uint8_t* data, std::uint32_t length);
    void readMemory(std::uint32_t address, std::uint8_t* data, std::uint32_t length);
    void waitFlashReady();
    void loadPowerOnRegisters();

    CameraConfig config_;
    VirtualClock& clock_;
    const flashcore::RegisterMap* map_;
    std::array<std::uint8_t, 8> signature_{};
    std::vector<std::uint8_t> rom_;
    std::vector<std::uint8_t> regs_;
    SpiFlash flash_;
    UsbIdentity identity_;
    bool plugged_ = true;

    // Extension-unit state.
    std::uint16_t latchedRegister_ = 0;
    std::uint32_t readPointer_ = 0;
    std::uint16_t romPointer_ = 0;
    std::uint8_t romCount_ = 0;
    struct Block {
        bool active = false;
        bool read = false;
        std::uint32_t cursor = 0;
        std::uint32_t end = 0;
        std::uint8_t size = 0;
    } block_;
    std::array<std::uint8_t, 3> duplication_{};

    Counters counters_;
    Faults faults_;
    std::vector<PropertyRecord> log_;
    bool logging_ = true;
};

} // namespace camsim
