// World files: cameras described in JSON. Numbers may be written as JSON numbers or as strings such as
// "0xEF".
#include "camsim/world.h"

#include "flashcore/connection/chip_table.h"

#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace camsim {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

long long number(const json& value) {
    if (value.is_number_integer()) return value.get<long long>();
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        std::size_t used = 0;
        const long long n = std::stoll(text, &used, 0);
        if (used != text.size()) throw std::invalid_argument("not a number: " + text);
        return n;
    }
    if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
    throw std::invalid_argument("not a number: " + value.dump());
}

template <typename T> T numberAs(const json& value, long long low, long long high) {
    const long long n = number(value);
    if (n < low || n > high) throw std::out_of_range("out of range: " + value.dump());
    return static_cast<T>(n);
}

int familyOf(const std::string& model, int variant) {
    for (int row = 0; row < flashcore::kChipFamilyCount; ++row) {
        const auto& sig = flashcore::ChipTable[static_cast<std::size_t>(row)].signature;
        if (model.size() == 5 && std::memcmp(sig.data(), model.data(), 5) == 0 && sig[5] == variant)
            return row;
    }
    throw std::invalid_argument("unknown chip " + model + " variant " + std::to_string(variant));
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

CameraConfig cameraFrom(const json& j, const fs::path& base) {
    CameraConfig c;
    c.family =
        familyOf(j.value("chip", std::string("T465M")), numberAs<int>(j.value("variant", json(1)), 0, 255));
    c.registerMap = j.value("registerMap", std::string("B")) == "A" ? 'A' : 'B';
    if (j.contains("chipId")) c.chipId = numberAs<std::uint8_t>(j["chipId"], 0, 255);
    if (j.contains("straps")) c.straps = numberAs<std::uint8_t>(j["straps"], 0, 255);
    if (j.contains("flashId")) {
        const json& id = j["flashId"];
        if (!id.is_array() || id.size() != 3) throw std::invalid_argument("flashId takes three bytes");
        c.flash.manufacturer = numberAs<std::uint8_t>(id[0], 0, 255);
        c.flash.id1 = numberAs<std::uint8_t>(id[1], 0, 255);
        c.flash.id2 = numberAs<std::uint8_t>(id[2], 0, 255);
    }
    if (j.contains("flashSize")) c.flash.size = numberAs<std::uint32_t>(j["flashSize"], 0x1000, 0x1000000);
    if (j.contains("flashStatus")) c.flash.status = numberAs<std::uint8_t>(j["flashStatus"], 0, 255);
    if (j.contains("continuationBytes"))
        c.flash.continuationBytes = numberAs<int>(j["continuationBytes"], 0, 8);
    if (j.contains("idAnswers")) {
        for (const auto& [opcode, bytes] : j["idAnswers"].items()) {
            std::vector<std::uint8_t> answer;
            for (const auto& b : bytes)
                answer.push_back(numberAs<std::uint8_t>(b, 0, 255));
            c.flash.idAnswers[numberAs<std::uint8_t>(json(opcode), 0, 255)] = answer;
        }
    }
    if (j.contains("firmware")) {
        c.flashFile = (base / j["firmware"].get<std::string>()).string();
        c.firmware = readFile(c.flashFile);
    }
    if (j.contains("friendlyName")) {
        const std::string name = j["friendlyName"].get<std::string>();
        c.friendlyName = std::u16string(name.begin(), name.end());
    } else {
        c.friendlyName.reset();
    }
    if (j.contains("filterInstance")) c.filterInstance = numberAs<int>(j["filterInstance"], 0, 24);
    if (j.contains("wpPin")) c.wpPin = numberAs<int>(j["wpPin"], 0, 7);
    c.wpPinInverted = j.value("wpPinInverted", false);
    if (j.contains("ports")) {
        c.ports.clear();
        for (const auto& p : j["ports"])
            c.ports.push_back(numberAs<int>(p, 1, 255));
    }
    if (j.contains("stringIndices")) {
        const json& indices = j["stringIndices"];
        if (!indices.is_array() || indices.size() != 3)
            throw std::invalid_argument("stringIndices takes three indices");
        for (std::size_t i = 0; i < 3; ++i)
            c.stringIndices[i] = numberAs<std::uint8_t>(indices[i], 0, 255);
    }
    c.devSpecificNode = j.value("devSpecificNode", true);
    if (j.contains("extensionUnitNode"))
        c.extensionUnitNode = numberAs<std::uint32_t>(j["extensionUnitNode"], 0, 15);
    if (j.contains("memoryType")) c.memoryType = numberAs<std::uint8_t>(j["memoryType"], 0, 255);
    if (j.contains("sectorTableAddress"))
        c.sectorTableAddress = numberAs<std::uint16_t>(j["sectorTableAddress"], 0, 0xFFFF);
    if (j.contains("busTimeUs")) c.busTimeUs = numberAs<std::uint32_t>(j["busTimeUs"], 0, 1000000);
    if (j.contains("registers")) {
        for (const auto& [reg, value] : j["registers"].items())
            c.registers[numberAs<std::uint16_t>(json(reg), 0, 0xFFFF)] =
                numberAs<std::uint8_t>(value, 0, 255);
    }
    return c;
}

std::string hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

json cameraTo(const Camera& camera, const std::string& flashName) {
    const CameraConfig& c = camera.config();
    const auto& sig = camera.romSignature();
    json j;
    j["chip"] = std::string(sig.begin(), sig.begin() + 5);
    j["variant"] = sig[5];
    j["registerMap"] = std::string(1, c.registerMap);
    j["chipId"] = hex(c.chipId);
    j["straps"] = hex(c.straps);
    j["flashId"] = {hex(c.flash.manufacturer), hex(c.flash.id1), hex(c.flash.id2)};
    j["flashSize"] = c.flash.size;
    j["flashStatus"] = hex(camera.flash().statusRegister());
    j["continuationBytes"] = c.flash.continuationBytes;
    if (!c.flash.idAnswers.empty()) {
        json answers = json::object();
        for (const auto& [opcode, bytes] : c.flash.idAnswers) {
            json answer = json::array();
            for (std::uint8_t b : bytes)
                answer.push_back(hex(b));
            answers[hex(opcode)] = answer;
        }
        j["idAnswers"] = answers;
    }
    j["firmware"] = flashName;
    if (c.friendlyName) j["friendlyName"] = std::string(c.friendlyName->begin(), c.friendlyName->end());
    j["filterInstance"] = c.filterInstance;
    if (c.wpPin) j["wpPin"] = *c.wpPin;
    j["wpPinInverted"] = c.wpPinInverted;
    j["ports"] = c.ports;
    j["stringIndices"] = c.stringIndices;
    j["devSpecificNode"] = c.devSpecificNode;
    j["extensionUnitNode"] = c.extensionUnitNode;
    j["memoryType"] = c.memoryType;
    j["sectorTableAddress"] = c.sectorTableAddress;
    j["busTimeUs"] = c.busTimeUs;
    if (!c.registers.empty()) {
        json registers = json::object();
        for (const auto& [reg, value] : c.registers)
            registers[hex(reg)] = hex(value);
        j["registers"] = registers;
    }
    return j;
}

} // namespace

bool World::load(const std::string& path, std::string& error) {
    try {
        std::ifstream in(path);
        if (!in) throw std::runtime_error("cannot read " + path);
        const json doc = json::parse(in);
        const fs::path base = fs::path(path).parent_path();
        std::vector<CameraConfig> configs;
        for (const auto& cam : doc.at("cameras"))
            configs.push_back(cameraFrom(cam, base));
        clear();
        for (const auto& c : configs)
            attach(c);
        return true;
    } catch (const std::exception& e) {
        error = path + ": " + e.what();
        return false;
    }
}

bool World::save(const std::string& path, std::string& error) const {
    try {
        const fs::path base = fs::path(path).parent_path();
        json doc;
        doc["cameras"] = json::array();
        for (std::size_t i = 0; i < cameras_.size(); ++i) {
            const Camera& camera = *cameras_[i];
            const std::string flashName = "flash" + std::to_string(i) + ".bin";
            std::ofstream flash(base / flashName, std::ios::binary | std::ios::trunc);
            const auto& bytes = camera.flash().contents();
            flash.write(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()));
            if (!flash) throw std::runtime_error("cannot write " + (base / flashName).string());
            doc["cameras"].push_back(cameraTo(camera, flashName));
        }
        std::ofstream out(path, std::ios::trunc);
        out << doc.dump(2) << "\n";
        if (!out) throw std::runtime_error("cannot write " + path);
        return true;
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

} // namespace camsim
