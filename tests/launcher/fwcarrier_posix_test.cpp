// The launcher services on Linux, and fwcarrier run as a Linux program with its embedded kit.
#include "kit_files.h"

#include "platform/launch.h"
#include "platform/posix/launch_resources.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

// This test program's own resources: the same id under two types.
namespace platform::posix {

namespace {
const unsigned char kProgram[] = {'M', 'Z', 0x90, 0x00};
const unsigned char kSettings[] = "[Config]\r\n";
} // namespace

std::span<const EmbeddedResource> embeddedResources() {
    static const EmbeddedResource table[] = {
        {u"EXE", 131, 0x0404, kProgram, sizeof kProgram},
        {u"INI", 131, 0x0404, kSettings, sizeof kSettings - 1},
    };
    return table;
}

} // namespace platform::posix

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string kitBytes(std::u16string_view type, std::uint16_t id) {
    for (const KitFile& file : kKitFiles) {
        if (file.type == type && file.id == id) return readFile(file.path);
    }
    ADD_FAILURE() << "no kit file for resource " << id;
    return {};
}

std::u16string utf16(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

class LauncherPosix : public testing::Test {
  protected:
    void SetUp() override {
        directory_ = fs::path(kWorkDirectory) /
                     testing::UnitTest::GetInstance()->current_test_info()->name() / "temp dir";
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }

    platform::Launch& os = platform::launch();
    fs::path directory_;
};

TEST_F(LauncherPosix, FindsResourcesByTypeAndId) {
    const platform::ResourceHandle program = os.findResource(131, u"EXE");
    const platform::ResourceHandle settings = os.findResource(131, u"INI");
    ASSERT_NE(program, nullptr);
    ASSERT_NE(settings, nullptr);
    EXPECT_EQ(os.sizeofResource(program), 4u);
    EXPECT_EQ(os.lockResource(os.loadResource(program)), platform::posix::embeddedResources()[0].data);
    EXPECT_EQ(os.sizeofResource(settings), 10u);
    EXPECT_EQ(os.findResource(131, u"DLL"), nullptr);
    EXPECT_EQ(os.findResource(132, u"EXE"), nullptr);
}

TEST_F(LauncherPosix, TempPathFollowsTmpdirAndEndsInASlash) {
    const char* saved = std::getenv("TMPDIR");
    const std::string previous = saved != nullptr ? saved : "";
    ::setenv("TMPDIR", directory_.c_str(), 1);
    std::array<char16_t, platform::kMaxPath> buffer{};
    const std::u16string expected = utf16(directory_.string() + "/");

    const std::uint32_t length = os.getTempPath(buffer);
    std::array<char16_t, 4> small{};
    const std::uint32_t needed = os.getTempPath(small);

    saved != nullptr ? ::setenv("TMPDIR", previous.c_str(), 1) : ::unsetenv("TMPDIR");
    EXPECT_EQ(std::u16string(buffer.data(), length), expected);
    EXPECT_EQ(needed, expected.size() + 1);
}

TEST_F(LauncherPosix, TempFileNamesAreNewUniqueAndExecutable) {
    const std::u16string directory = utf16(directory_.string() + "/");
    std::array<char16_t, platform::kMaxPath> first{};
    std::array<char16_t, platform::kMaxPath> second{};

    const std::uint32_t firstNumber = os.getTempFileName(directory.c_str(), u"FWU", first);
    const std::uint32_t secondNumber = os.getTempFileName(directory.c_str(), u"FWU", second);

    EXPECT_NE(firstNumber, 0u);
    EXPECT_NE(secondNumber, 0u);
    EXPECT_NE(firstNumber, secondNumber);
    for (const auto& name : {first, second}) {
        const std::string path(name.data(), name.data() + std::u16string_view(name.data()).size());
        EXPECT_TRUE(std::regex_match(fs::path(path).filename().string(), std::regex("FWU[0-9A-F]{4}\\.tmp")));
        EXPECT_EQ(fs::path(path).parent_path(), directory_);
        EXPECT_EQ(fs::file_size(path), 0u);
        EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_exec, fs::perms::none);
    }
}

TEST_F(LauncherPosix, CreateWithoutSharingTruncatesAndFailsWhileTheFileIsHeld) {
    const fs::path path = directory_ / "libusb-1.0.dll";
    std::ofstream(path) << "content of an earlier run";
    const std::u16string name = utf16(path.string());
    auto create = [&] {
        return os.createFile(name.c_str(), platform::kGenericWrite, platform::kShareNone,
                             platform::kCreateAlways, platform::kFileAttributeNormal);
    };

    const platform::FileHandle held = create();
    ASSERT_NE(held, platform::kInvalidFile);
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(create(), platform::kInvalidFile);
    std::uint32_t written = 0;
    EXPECT_TRUE(os.writeFile(held, "new", 3, written));
    EXPECT_EQ(written, 3u);
    EXPECT_TRUE(os.closeHandle(held));

    const platform::FileHandle again = create();
    EXPECT_NE(again, platform::kInvalidFile);
    os.closeHandle(again);
}

// Runs a program with TMPDIR set and reaps it and every process it leaves behind; returns how many ran.
int runAndReapAll(const std::string& program, const fs::path& tempDirectory) {
    // Orphans of the run become this process's children, so the wait below also ends with them.
    EXPECT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    std::vector<std::string> environment{"TMPDIR=" + tempDirectory.string()};
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::string_view(*entry).substr(0, 7) != "TMPDIR=") environment.emplace_back(*entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string path = program;
    char* argv[] = {path.data(), nullptr};
    pid_t child = 0;
    EXPECT_EQ(::posix_spawn(&child, path.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    int reaped = 0;
    int status = 0;
    while (::waitpid(-1, &status, 0) > 0)
        ++reaped;
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    return reaped;
}

TEST_F(LauncherPosix, FwcarrierWritesItsKitAndStartsTheUpdaterFromADirectoryWithSpaces) {
    EXPECT_EQ(runAndReapAll(kFwcarrier, directory_), 2);

    std::set<std::string> names;
    fs::path updater;
    for (const auto& entry : fs::directory_iterator(directory_)) {
        const std::string name = entry.path().filename().string();
        if (std::regex_match(name, std::regex("FWU[0-9A-F]{4}\\.tmp"))) updater = entry.path();
        names.insert(name);
    }
    ASSERT_FALSE(updater.empty());
    EXPECT_EQ(names,
              (std::set<std::string>{updater.filename().string(), "libusb-1.0.dll", "AuxFlasher.tmp",
                                     "config.ini", "VIDPIDList.ini", "VIDPIDTab.ini", "updater-run.log"}));
    EXPECT_EQ(readFile(updater), kitBytes(u"EXE", 131));
    EXPECT_EQ(readFile(directory_ / "libusb-1.0.dll"), kitBytes(u"DLL", 139));
    EXPECT_EQ(readFile(directory_ / "AuxFlasher.tmp"), kitBytes(u"EXE", 133));
    EXPECT_EQ(readFile(directory_ / "config.ini"), kitBytes(u"INI", 137));
    EXPECT_EQ(readFile(directory_ / "VIDPIDList.ini"), kitBytes(u"INI", 138));
    EXPECT_EQ(readFile(directory_ / "VIDPIDTab.ini"), kitBytes(u"INI", 139));
    // The updater ran from its own path, given as one word, with no arguments.
    EXPECT_EQ(readFile(directory_ / "updater-run.log"),
              "module: " + updater.string() + "\ncommand line: " + updater.string() + "\n");
}

} // namespace
