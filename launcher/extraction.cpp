#include "launcher/extraction.h"

#include "launcher/kit.h"

#include <algorithm>
#include <array>
#include <string>

namespace launcher {

namespace {

using PathBuffer = std::array<char16_t, platform::kMaxPath>;

// The text of a terminated buffer; a buffer without terminator counts as full.
template <typename Char, std::size_t N>
std::basic_string_view<Char> textOf(const std::array<Char, N>& buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), Char{});
    return {buffer.data(), static_cast<std::size_t>(end - buffer.begin())};
}

// Starts the updater with its path, in the thread's ANSI code page, as the whole command line. The path is
// quoted: unquoted, a path with spaces makes Windows try every prefix that ends at a space as a program of
// its own first ("C:\Documents.exe" ...), a way for another program to be started in the updater's place.
void startUpdater(platform::Launch& os, const PathBuffer& updaterPath) {
    // Each UTF-16 unit takes at most two bytes in a double-byte code page.
    std::array<char, 2 * platform::kMaxPath> ansi{};
    if (os.wideToThreadAnsi(updaterPath.data(), ansi) == 0) return;
    const std::string commandLine = '"' + std::string(textOf(ansi)) + '"';
    os.winExec(commandLine.c_str(), platform::kShowWindow);
}

} // namespace

bool writeResource(platform::Launch& os, const char16_t* type, std::uint16_t id,
                   std::u16string_view targetPath) {
    const platform::ResourceHandle resource = os.findResource(id, type);
    if (resource == nullptr) return false;
    const platform::ResourceMemory memory = os.loadResource(resource);
    if (memory == nullptr) return false;
    const std::uint32_t size = os.sizeofResource(resource);
    if (size == 0) return false;
    const void* bytes = os.lockResource(memory);
    if (bytes == nullptr) return false;

    const std::u16string path(targetPath);
    PathBuffer fullPath{};
    const std::uint32_t length = os.getFullPathName(path.c_str(), fullPath);
    if (length == 0 || length >= fullPath.size()) return false;
    const platform::FileHandle file =
        os.createFile(fullPath.data(), platform::kGenericWrite, platform::kShareNone, platform::kCreateAlways,
                      platform::kFileAttributeNormal);
    if (file == platform::kInvalidFile) return false;
    std::uint32_t written = 0;
    const bool complete = os.writeFile(file, bytes, size, written) && written == size;
    os.closeHandle(file);
    return complete;
}

void extractAndStart(platform::Launch& os) {
    PathBuffer tempDirectory{};
    const std::uint32_t length = os.getTempPath(tempDirectory);
    if (length == 0 || length >= tempDirectory.size()) return; // no temporary directory to write into

    // Without a unique file the name stays empty, and the updater's write fails.
    PathBuffer uniqueName{};
    if (os.getTempFileName(tempDirectory.data(), kUniqueFilePrefix, uniqueName) == 0) uniqueName.fill(0);

    const std::u16string directory(textOf(tempDirectory));
    for (const KitResource& entry : kKitInventory) {
        if (entry.destination == Destination::NotWritten) continue;
        const std::u16string target = entry.destination == Destination::UniqueFile
                                          ? std::u16string(textOf(uniqueName))
                                          : directory + std::u16string(entry.fileName);
        if (!writeResource(os, entry.type, entry.id, target)) return;
    }
    startUpdater(os, uniqueName);
}

} // namespace launcher
