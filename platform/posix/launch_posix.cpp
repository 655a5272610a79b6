// The Linux side of the launcher services. Paths are UTF-8 on the file system and UTF-16 at the seam. The
// resources come from the program's embedded table, and a program is started with posix_spawn. Linux has no
// share modes: a file opened without sharing holds an exclusive advisory lock, which a second such open
// finds.
#include "platform/launch.h"
#include "platform/posix/launch_resources.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace platform {

namespace {

std::string toUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        const bool highSurrogate = c >= 0xD800 && c < 0xDC00;
        if (highSurrogate && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Decodes UTF-8; a malformed byte stands for itself, as a Latin-1 character.
std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        char32_t c = extra == 3 ? lead & 0x07 : extra == 2 ? lead & 0x0F : extra == 1 ? lead & 0x1F : lead;
        bool wellFormed = lead < 0x80 || extra > 0;
        for (std::size_t k = 1; wellFormed && k <= extra; ++k) {
            const auto next = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
            wellFormed = (next & 0xC0) == 0x80;
            c = (c << 6) | (next & 0x3F);
        }
        if (!wellFormed) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += extra + 1;
    }
    return out;
}

// Copies a text with its terminator, Windows-style: the length written, or the size needed if it does not
// fit.
std::uint32_t copyOut(std::u16string_view text, std::span<char16_t> out) {
    if (text.size() + 1 > out.size()) return static_cast<std::uint32_t>(text.size() + 1);
    text.copy(out.data(), text.size());
    out[text.size()] = u'\0';
    return static_cast<std::uint32_t>(text.size());
}

// The command line split into words at blanks; double quotes group blanks into a word and are dropped.
std::vector<std::string> wordsOf(std::string_view commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(std::exchange(word, {}));
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

class PosixLaunch final : public Launch {
  public:
    bool initCommonControlsEx(std::uint32_t, std::uint32_t) override { return true; }

    std::uint32_t getTempPath(std::span<char16_t> buffer) override {
        const char* tmpdir = std::getenv("TMPDIR");
        std::string directory = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
        if (directory.back() != '/') directory += '/';
        return copyOut(toUtf16(directory), buffer);
    }

    std::uint32_t getTempFileName(const char16_t* directory, const char16_t* prefix,
                                  std::span<char16_t> out) override {
        if (out.size() < kMaxPath) return 0;
        const std::string base = toUtf8(directory) + toUtf8(std::u16string_view(prefix).substr(0, 3));
        std::random_device seed;
        const unsigned start = seed() % 0xFFFF;
        for (unsigned attempt = 0; attempt < 0xFFFF; ++attempt) {
            const unsigned unique = (start + attempt) % 0xFFFF + 1;
            char number[8];
            std::snprintf(number, sizeof number, "%04X", unique);
            const std::string path = base + number + ".tmp";
            // Executable like any file on Windows: the unique file is where the updater is written.
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0700);
            if (fd < 0 && errno == EEXIST) continue;
            if (fd < 0) return 0;
            ::close(fd);
            const std::u16string name = toUtf16(path);
            if (copyOut(name, out) != name.size()) {
                ::unlink(path.c_str());
                return 0;
            }
            return unique;
        }
        return 0;
    }

    std::uint32_t getFullPathName(const char16_t* path, std::span<char16_t> out) override {
        std::string full = toUtf8(path);
        if (full.empty()) return 0;
        if (full.front() != '/') {
            std::vector<char> cwd(4096);
            if (::getcwd(cwd.data(), cwd.size()) == nullptr) return 0;
            full = std::string(cwd.data()) + '/' + full;
        }
        return copyOut(toUtf16(full), out);
    }

    ResourceHandle findResource(std::uint16_t id, const char16_t* type) override {
        for (const posix::EmbeddedResource& resource : posix::embeddedResources()) {
            if (resource.id == id && std::u16string_view(resource.type) == type) return &resource;
        }
        return nullptr;
    }

    ResourceMemory loadResource(ResourceHandle resource) override { return resource; }

    std::uint32_t sizeofResource(ResourceHandle resource) override {
        return resource == nullptr ? 0 : static_cast<const posix::EmbeddedResource*>(resource)->size;
    }

    const void* lockResource(ResourceMemory memory) override {
        return memory == nullptr ? nullptr : static_cast<const posix::EmbeddedResource*>(memory)->data;
    }

    // Creates for writing, truncating an existing file (CREATE_ALWAYS), the one mode the launcher uses.
    FileHandle createFile(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                          std::uint32_t creation, std::uint32_t) override {
        if (access != kGenericWrite || creation != kCreateAlways) return kInvalidFile;
        const int fd = ::open(toUtf8(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) return kInvalidFile;
        const bool held = shareMode == kShareNone && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
        if (held || ::ftruncate(fd, 0) != 0) {
            ::close(fd);
            return kInvalidFile;
        }
        return fd;
    }

    bool writeFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t& written) override {
        written = 0;
        const auto* bytes = static_cast<const unsigned char*>(data);
        while (written < size) {
            const ssize_t n = ::write(static_cast<int>(file), bytes + written, size - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            written += static_cast<std::uint32_t>(n);
        }
        return true;
    }

    bool closeHandle(FileHandle file) override { return ::close(static_cast<int>(file)) == 0; }

    std::uint32_t wideToThreadAnsi(const char16_t* text, std::span<char> out) override {
        const std::string utf8 = toUtf8(text);
        if (utf8.size() + 1 > out.size()) return 0;
        utf8.copy(out.data(), utf8.size());
        out[utf8.size()] = '\0';
        return static_cast<std::uint32_t>(utf8.size() + 1);
    }

    // Starts the program the first word names, with the other words as its arguments. A started program
    // gives 33, as WinExec's results above 31 mean success; a failed start gives 0.
    std::uint32_t winExec(const char* commandLine, std::uint32_t) override {
        std::vector<std::string> words = wordsOf(commandLine);
        if (words.empty()) return 0;
        std::vector<char*> argv;
        for (std::string& word : words)
            argv.push_back(word.data());
        argv.push_back(nullptr);
        pid_t child = 0;
        return ::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? 33 : 0;
    }
};

} // namespace

Launch& launch() {
    static PosixLaunch instance;
    return instance;
}

} // namespace platform
