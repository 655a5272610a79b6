#include "flashcore/connection/xu_transport.h"

#include "flashcore/bytes.h"
#include "flashcore/connection/chip_table.h"
#include "flashcore/connection/chunked_transfer.h"
#include "fwconfig.h"
#include "platform/host.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace flashcore::xu {

namespace {

using platform::host;

const platform::Guid& vendorPropertySet() {
    static const platform::Guid set = platform::guidOf(FWT_VENDOR_PROPERTY_SET_TEXT);
    return set;
}

constexpr std::uint32_t kRegisterPropertyLength = 4;
constexpr std::uint32_t kI2cPropertyLength = 8;
constexpr std::uint32_t kMemoryPropertyLength = 12;
constexpr std::uint32_t kBlockPropertyLength = 64;
constexpr std::uint32_t kEightByteCap = 8;

enum PropertyId : std::uint32_t {
    kRegisterProperty = 1,
    kI2cProperty = 2,
    kMemoryProperty = 3,
    kRomProperty = 4,
    kMemoryInfoProperty = 5,
    kBlockProperty = 6,
};

XuChannel& channel() {
    return state().ctx.xu;
}

// A KSP_NODE request: property set, property id, flags, node id, reserved.
std::array<std::uint8_t, platform::kKsNodeRequestSize> nodeRequest(std::uint32_t id, std::uint32_t flags,
                                                                   std::uint32_t node) {
    std::array<std::uint8_t, platform::kKsNodeRequestSize> request{};
    std::copy(vendorPropertySet().bytes.begin(), vendorPropertySet().bytes.end(), request.begin());
    writeLe32(request.data() + 16, id);
    writeLe32(request.data() + 20, flags);
    writeLe32(request.data() + 24, node);
    return request;
}

// One property call on the extension unit node: the filter's IKsControl is queried, used and released.
bool property(std::uint32_t id, bool set, std::uint8_t* data, std::uint32_t length) {
    XuChannel& ch = channel();
    if (!ch.filter) return false;
    std::unique_ptr<platform::KsControl> control;
    if (platform::failed(ch.filter->queryKsControl(control)) || !control) return false;
    const auto request = nodeRequest(
        id, (set ? platform::kKsPropertySet : platform::kKsPropertyGet) | platform::kKsPropertyTopology,
        ch.nodeId);
    std::uint32_t returned = 0;
    return control->property(request.data(), platform::kKsNodeRequestSize, data, length, returned) ==
           platform::kOk;
}

std::uint8_t highAddressBits(std::uint32_t address) {
    return static_cast<std::uint8_t>((address >> 12) & 0x30);
}

bool memoryWrite(std::uint32_t address, const std::uint8_t* data, std::uint32_t count) {
    std::array<std::uint8_t, kMemoryPropertyLength> payload{};
    writeLe16(payload.data(), static_cast<std::uint16_t>(address));
    payload[2] = static_cast<std::uint8_t>(highAddressBits(address) | count);
    std::copy_n(data, count, payload.begin() + 3);
    return property(kMemoryProperty, true, payload.data(), kMemoryPropertyLength);
}

bool memoryReadRequest(std::uint32_t address, std::uint32_t count) {
    std::array<std::uint8_t, kMemoryPropertyLength> payload{};
    writeLe16(payload.data(), static_cast<std::uint16_t>(address));
    payload[2] = static_cast<std::uint8_t>(0x80 | highAddressBits(address) | count);
    return property(kMemoryProperty, true, payload.data(), kMemoryPropertyLength);
}

// Fetches the 8 data bytes the last read request made ready.
bool memoryFetch(std::uint8_t* eight) {
    std::array<std::uint8_t, kMemoryPropertyLength> reply{};
    if (!property(kMemoryProperty, false, reply.data(), kMemoryPropertyLength)) return false;
    std::copy_n(reply.begin() + 3, 8, eight);
    return true;
}

bool romRead(std::uint32_t address, std::uint8_t* data, std::uint32_t count) {
    std::array<std::uint8_t, kMemoryPropertyLength> payload{};
    writeLe16(payload.data(), static_cast<std::uint16_t>(address));
    payload[2] = 0x08;
    if (!property(kRomProperty, true, payload.data(), kMemoryPropertyLength)) return false;
    payload.fill(0);
    if (!property(kRomProperty, false, payload.data(), kMemoryPropertyLength)) return false;
    std::copy_n(payload.begin() + 3, std::min<std::uint32_t>({payload[2], count, 8}), data);
    return true;
}

bool blockHeader(std::uint32_t start, std::uint32_t end, bool read, std::uint32_t blockSize) {
    std::array<std::uint8_t, kBlockPropertyLength> header{};
    writeLe32(header.data(), start);
    header[4] = read ? 0x80 : 0x00;
    header[5] = static_cast<std::uint8_t>(blockSize);
    writeLe32(header.data() + 6, end);
    header[10] = 0x0B;
    header[11] = 0x01;
    return property(kBlockProperty, true, header.data(), kBlockPropertyLength);
}

bool blockTransfer(bool read, std::uint8_t* data, std::uint32_t count) {
    std::array<std::uint8_t, kBlockPropertyLength> block{};
    if (read) {
        if (!property(kBlockProperty, false, block.data(), kBlockPropertyLength)) return false;
        std::copy_n(block.begin(), count, data);
        return true;
    }
    std::copy_n(data, count, block.begin());
    return property(kBlockProperty, true, block.data(), kBlockPropertyLength);
}

// Converts a wide device path to the channel's 8-bit text (device paths are plain ASCII; anything else
// becomes '?', as the ANSI code page conversion does for characters it cannot map).
std::string narrowPath(std::u16string_view wide) {
    std::string text;
    for (char16_t c : wide.substr(0, 259))
        text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return text;
}

// The first `count` characters of two wide strings are equal (stopping early at a terminator in both).
bool samePrefix(std::u16string_view a, std::u16string_view b, int count) {
    for (int i = 0; i < count; ++i) {
        const char16_t ca = static_cast<std::size_t>(i) < a.size() ? a[static_cast<std::size_t>(i)] : u'\0';
        const char16_t cb = static_cast<std::size_t>(i) < b.size() ? b[static_cast<std::size_t>(i)] : u'\0';
        if (ca != cb) return false;
        if (ca == u'\0') return true;
    }
    return true;
}

// Finds the extension unit: the first vendor-specific topology node that accepts a set-support request of
// the vendor property set.
bool findNode(std::uint32_t& node) {
    XuChannel& ch = channel();
    if (!ch.filter) return false;
    std::unique_ptr<platform::TopologyInfo> topology;
    if (platform::failed(ch.filter->queryTopologyInfo(topology)) || !topology) return false;
    std::uint32_t count = 0;
    if (platform::failed(topology->nodeCount(count))) return false;
    for (std::uint32_t i = 0; i < count; ++i) {
        platform::Guid type;
        if (platform::failed(topology->nodeType(i, type)) || type != platform::kNodeTypeDevSpecific) continue;
        std::unique_ptr<platform::KsControl> control;
        if (platform::failed(topology->createNodeControl(i, control)) || !control) continue;
        const auto request =
            nodeRequest(0, platform::kKsPropertySetSupport | platform::kKsPropertyTopology, i);
        std::uint32_t returned = 0;
        if (!platform::failed(
                control->property(request.data(), platform::kKsNodeRequestSize, nullptr, 0, returned))) {
            node = i;
            return true;
        }
    }
    return false;
}

// Up to two attempts, numbered 1 and 2: locate the node (falling back to the attempt number as node id) and
// run the chip identification probe.
bool identifyWithRetry(int slot) {
    std::uint8_t signature[8];
    for (std::uint32_t attempt = 1; attempt <= 2; ++attempt) {
        std::uint32_t node = 0;
        channel().nodeId = findNode(node) ? node : attempt;
        if (probeChip(slot, memoryRequest8, signature)) return true;
    }
    return false;
}

void releaseFilter() {
    channel().filter.reset();
}

// Steps 1 to 3 of every walk: COM, the system device enumerator and the video capture category.
std::unique_ptr<platform::MonikerEnumerator> openVideoCategory() {
    host().coInitialize();
    std::unique_ptr<platform::DeviceEnumerator> devices;
    if (platform::failed(host().createDeviceEnumerator(devices)) || !devices) return nullptr;
    std::unique_ptr<platform::MonikerEnumerator> monikers;
    if (devices->createVideoInputEnumerator(monikers) != platform::kOk || !monikers) return nullptr;
    monikers->reset();
    return monikers;
}

} // namespace

SearchResult searchByIndex(int requestedSlot) {
    auto monikers = openVideoCategory();
    if (!monikers) return SearchResult::EnumeratorUnavailable;
    XuChannel& ch = channel();
    bool keptWithFailedRead = false;
    std::unique_ptr<platform::DeviceMoniker> moniker;
    while (monikers->next(moniker) == platform::kOk && moniker) {
        std::unique_ptr<platform::PropertyBag> bag;
        if (platform::failed(moniker->bindToStorage(bag)) || !bag) continue;
        std::u16string text;
        if (platform::failed(bag->readString(u"FriendlyName", text))) continue;
        std::unique_ptr<platform::CaptureFilter> filter;
        if (platform::failed(moniker->bindToObject(filter)) || !filter) continue;
        ch.filter = std::move(filter);
        keptWithFailedRead = false;
        if (platform::failed(bag->readString(u"DevicePath", text))) {
            keptWithFailedRead = true; // the filter stays in the channel
            continue;
        }
        if (!identifyWithRetry(requestedSlot)) {
            releaseFilter();
            continue;
        }
        if (!platform::failed(bag->readString(u"DevicePath", text))) {
            ch.devicePath = narrowPath(text);
        } else {
            keptWithFailedRead = true;
        }
        break;
    }
    if (!ch.filter) return SearchResult::NoDevice;
    return keptWithFailedRead ? SearchResult::ErrorWithDeviceKept : SearchResult::Success;
}

bool searchByPath(std::u16string_view path, int compareLength) {
    auto monikers = openVideoCategory();
    if (!monikers) return false;
    XuChannel& ch = channel();
    std::unique_ptr<platform::DeviceMoniker> moniker;
    while (monikers->next(moniker) == platform::kOk && moniker) {
        std::unique_ptr<platform::PropertyBag> bag;
        if (platform::failed(moniker->bindToStorage(bag)) || !bag) continue;
        std::u16string devicePath;
        if (platform::failed(bag->readString(u"DevicePath", devicePath))) continue;
        std::unique_ptr<platform::CaptureFilter> filter;
        if (platform::failed(moniker->bindToObject(filter)) || !filter) continue;
        ch.filter = std::move(filter);
        if (samePrefix(devicePath, path, compareLength)) {
            ch.devicePath = narrowPath(path);
            break;
        }
        releaseFilter();
    }
    if (!ch.filter) return false;
    return identifyWithRetry(0);
}

bool probeChip(int slot, MemoryRequestFn request, std::uint8_t* signature) {
    for (std::uint16_t address : kSignatureAddresses) {
        std::uint8_t bytes[8] = {};
        if (!request(slot, kCmdReadRom, address, bytes, 8, 8)) return false;
        const int row = matchChipRow(address, bytes);
        if (row >= 0) {
            std::copy_n(bytes, 8, signature);
            slotState(slot).chipFamily = row;
            return true;
        }
    }
    return false;
}

void installTransport(bool blockMode) {
    TransportTable& t = state().ctx.transport;
    t.writeRegister = writeRegister;
    t.readRegister = readRegister;
    t.memoryRequest = blockMode ? memoryRequestBlocks : memoryRequest8;
    t.readMemoryInfo = readMemoryInfo;
    t.setDuplication = setDuplication;
    t.closeTransport = close;
    t.devicePathOf = devicePath;
    t.i2cWrite = i2cWrite;
    t.i2cRead = i2cRead;
}

bool writeRegister(int, std::uint16_t reg, std::uint8_t value) {
    std::array<std::uint8_t, kRegisterPropertyLength> payload{};
    writeLe16(payload.data(), reg);
    payload[2] = value;
    return property(kRegisterProperty, true, payload.data(), kRegisterPropertyLength);
}

bool readRegister(int, std::uint16_t reg, std::uint8_t* value) {
    if (!value) return false;
    std::array<std::uint8_t, kRegisterPropertyLength> payload{};
    writeLe16(payload.data(), reg);
    payload[3] = 0xFF;
    if (!property(kRegisterProperty, true, payload.data(), kRegisterPropertyLength)) return false;
    payload.fill(0);
    if (!property(kRegisterProperty, false, payload.data(), kRegisterPropertyLength)) return false;
    *value = payload[2];
    return true;
}

bool memoryRequest8(int, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                    std::uint32_t length, std::uint32_t chunk) {
    if (command != kCmdWriteFlash && command != kCmdReadFlash && command != kCmdReadRom) {
        state().ctx.progress = 0;
        return false;
    }
    if (!buffer && length > 0) return false;
    bool wholePiecesRequested = false;
    const bool ok = runChunkedTransfer(command, address, length, chunk, kEightByteCap, [&](const Piece& p) {
        std::uint8_t* data = buffer + p.offset;
        if (command == kCmdWriteFlash) return memoryWrite(p.address, data, p.length);
        if (command == kCmdReadRom) return romRead(p.address, data, p.length);
        if (!p.whole) {
            std::uint8_t scratch[8];
            if (!memoryReadRequest(p.address, p.length) || !memoryFetch(scratch)) return false;
            std::copy_n(scratch, p.length, data);
            return true;
        }
        // One read request for a whole piece at the start serves every piece below 0x10000; pieces at 0x10000
        // and above are requested one by one. A failed first request fails the read: the fetches would
        // otherwise return whatever the controller's read pointer last pointed at.
        if (!wholePiecesRequested) {
            if (!memoryReadRequest(address, p.length)) return false;
            wholePiecesRequested = true;
        }
        if (p.address >= 0x10000 && !memoryReadRequest(p.address, p.length)) return false;
        return memoryFetch(data);
    });
    if (ok) state().ctx.progress = 100;
    return ok;
}

bool memoryRequestBlocks(int slot, std::uint8_t command, std::uint32_t address, std::uint8_t* buffer,
                         std::uint32_t length, std::uint32_t chunk) {
    if (command == kCmdReadRom) return memoryRequest8(slot, command, address, buffer, length, chunk);
    if (!buffer || length == 0 || chunk == 0) return false;
    ConnectionContext& ctx = state().ctx;
    ctx.progress = 0;
    if (command != kCmdWriteFlash && command != kCmdReadFlash) return false;
    const bool read = command == kCmdReadFlash;
    // Blocks never exceed the 64-byte property.
    const std::uint32_t b = std::min(chunk, kBlockPropertyLength);
    const std::uint32_t total = length >= b ? length - length % b : length;
    const std::uint32_t blockSize = length >= b ? b : length;
    if (!blockHeader(address, address + total, read, blockSize)) return false;
    const std::uint32_t wholeBlocks = length / b;
    std::uint32_t done = 0;
    for (std::uint32_t k = 0; k < wholeBlocks; ++k) {
        if (!blockTransfer(read, buffer + done, blockSize)) return false;
        done += blockSize;
        ctx.progress = static_cast<int>(std::uint64_t{k} * blockSize * 100 / total);
    }
    const std::uint32_t remainder = length % b;
    if (remainder != 0 && length >= b) {
        if (!blockHeader(address + done, address + done + remainder, read, remainder)) return false;
        if (!blockTransfer(read, buffer + done, remainder)) return false;
    } else if (length < b) {
        if (!blockTransfer(read, buffer, length)) return false;
    }
    ctx.progress = 100;
    return true;
}

bool readMemoryInfo(int, std::uint8_t* record) {
    std::array<std::uint8_t, kMemoryPropertyLength> reply{};
    if (!property(kMemoryInfoProperty, false, reply.data(), kMemoryPropertyLength)) return false;
    std::copy_n(reply.begin(), 3, record);
    return true;
}

bool setDuplication(int, std::uint8_t a, std::uint16_t b) {
    std::array<std::uint8_t, kMemoryPropertyLength> payload{};
    payload[2] = 0x40;
    payload[3] = a;
    writeLe16(payload.data() + 4, b);
    return property(kMemoryProperty, true, payload.data(), kMemoryPropertyLength);
}

bool close(int) {
    releaseFilter();
    channel().devicePath.clear();
    host().coUninitialize();
    return true;
}

const char* devicePath(int) {
    return channel().devicePath.c_str();
}

bool i2cWrite(int, const std::uint8_t* request) {
    std::array<std::uint8_t, kI2cPropertyLength> payload{};
    std::copy_n(request, 7, payload.begin());
    payload[7] = 0x00;
    return property(kI2cProperty, true, payload.data(), kI2cPropertyLength);
}

bool i2cRead(int, std::uint8_t* request) {
    std::array<std::uint8_t, kI2cPropertyLength> payload{};
    std::copy_n(request, 7, payload.begin());
    payload[7] = 0xFF;
    if (!property(kI2cProperty, true, payload.data(), kI2cPropertyLength)) return false;
    payload.fill(0);
    if (!property(kI2cProperty, false, payload.data(), kI2cPropertyLength)) return false;
    std::copy(payload.begin(), payload.end(), request);
    return true;
}

} // namespace flashcore::xu
