// COM-shaped basics shared by both sides of the platform seam: result codes and GUIDs.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace platform {

// An HRESULT: negative values are failures, S_OK is 0 and S_FALSE is 1.
using HResult = std::int32_t;
inline constexpr HResult kOk = 0;
inline constexpr HResult kFalse = 1;
inline constexpr HResult kFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kNoInterface = static_cast<HResult>(0x80004002u);
inline constexpr HResult kNotFound = static_cast<HResult>(0x80070490u); // HRESULT_FROM_WIN32(ERROR_NOT_FOUND)
inline constexpr bool failed(HResult hr) {
    return hr < 0;
}

// A GUID kept as its 16 bytes in memory order (the first three fields little-endian), the way it travels
// inside a kernel-streaming property request.
struct Guid {
    std::array<std::uint8_t, 16> bytes{};
    friend bool operator==(const Guid&, const Guid&) = default;
};

// Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (braces optional); returns false on malformed text.
bool parseGuid(std::string_view text, Guid& out);

// Parses a GUID text known at build time; a malformed constant is a programming error and yields all zeros.
Guid guidOf(std::string_view text);

} // namespace platform
