#include "platform/com.h"

namespace platform {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

bool parseGuid(std::string_view text, Guid& out) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
    if (text.size() != 36) return false;
    // Byte positions of the text in memory order: Data1..Data3 are stored little-endian.
    static constexpr int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    std::array<std::uint8_t, 16> parsed{};
    std::size_t pos = 0;
    for (int i = 0; i < 16; ++i) {
        if (pos == 8 || pos == 13 || pos == 18 || pos == 23) {
            if (text[pos] != '-') return false;
            ++pos;
        }
        const int hi = hexValue(text[pos]);
        const int lo = hexValue(text[pos + 1]);
        if (hi < 0 || lo < 0) return false;
        parsed[i] = static_cast<std::uint8_t>(hi * 16 + lo);
        pos += 2;
    }
    for (int i = 0; i < 16; ++i)
        out.bytes[kOrder[i]] = parsed[i];
    return true;
}

Guid guidOf(std::string_view text) {
    Guid g;
    if (!parseGuid(text, g)) g = Guid{};
    return g;
}

} // namespace platform
