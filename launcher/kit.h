// The update kit the launcher carries as resources of its own executable: what each resource holds and where
// it goes in the temporary directory.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace launcher {

// Every kit resource is stored in this language (Chinese, Traditional).
inline constexpr std::uint16_t kKitLanguage = 0x0404;

enum class Destination {
    UniqueFile,    // the unique temporary file; the updater, started once the kit is written
    TempDirectory, // the temporary directory under a fixed file name
    NotWritten,    // carried only: the copies of the libraries
};

struct KitResource {
    const char16_t* type;
    std::uint16_t id;
    Destination destination;
    std::u16string_view fileName; // for Destination::TempDirectory
};

// The inventory. The resources that are written come first, in the order the extraction chain writes them.
// The ids 137, 138 and 139 occur under two types; the type tells them apart.
inline constexpr std::array<KitResource, 9> kKitInventory{{
    {u"EXE", 131, Destination::UniqueFile, u""},                  // the updater
    {u"DLL", 139, Destination::TempDirectory, u"libusb-1.0.dll"}, // the libusb 1.0 run-time library
    {u"EXE", 133, Destination::TempDirectory, u"AuxFlasher.tmp"}, // the download tool
    {u"INI", 137, Destination::TempDirectory, u"config.ini"},     // the download tool's settings
    {u"INI", 138, Destination::TempDirectory, u"VIDPIDList.ini"}, // the device-ID list
    {u"INI", 139, Destination::TempDirectory, u"VIDPIDTab.ini"},  // the device-to-firmware table
    {u"DLL", 136, Destination::NotWritten, u""},                  // usbgate
    {u"DLL", 137, Destination::NotWritten, u""},                  // flashcore
    {u"DLL", 138, Destination::NotWritten, u""},                  // flashkit
}};

// Prefix of the unique temporary file's name (FWUhhhh.tmp).
inline constexpr const char16_t* kUniqueFilePrefix = u"FWU";

} // namespace launcher
