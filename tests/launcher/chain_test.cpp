// The launcher's start-up and extraction chain on a simulated operating system: a file system in memory,
// resources by type and id, and a failure at any step of the write routine.
#include "launcher/app.h"
#include "launcher/extraction.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using ResourceKey = std::pair<std::u16string, std::uint16_t>;

// The step of the write routine at which a resource's write fails.
enum class Failure { Missing, LoadFails, Empty, LockFails, CreateFails, WriteFails, ShortWrite };

class FakeOs final : public platform::Launch {
  public:
    // The system as the launcher finds it.
    std::u16string tempPath = u"C:\\Users\\Camera Maker\\AppData\\Local\\Temp\\";
    bool tempPathFails = false;
    bool tempFileFails = false;
    std::map<ResourceKey, std::string> resources;
    std::optional<std::pair<ResourceKey, Failure>> failure;

    // What the launcher did.
    std::map<std::u16string, std::string> files;
    std::vector<ResourceKey> lookups;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> commonControls;
    std::vector<std::pair<std::string, std::uint32_t>> started;
    int openFiles = 0;

    bool initCommonControlsEx(std::uint32_t size, std::uint32_t classes) override {
        commonControls.emplace_back(size, classes);
        return true;
    }

    std::uint32_t getTempPath(std::span<char16_t> buffer) override {
        return tempPathFails ? 0 : copyOut(tempPath, buffer);
    }

    std::uint32_t getTempFileName(const char16_t* directory, const char16_t* prefix,
                                  std::span<char16_t> out) override {
        EXPECT_GE(out.size(), platform::kMaxPath);
        if (tempFileFails) return 0;
        const std::u16string name = std::u16string(directory) + prefix + u"1A2B.tmp";
        files[name] = "";
        copyOut(name, out);
        return 0x1A2B;
    }

    std::uint32_t getFullPathName(const char16_t* path, std::span<char16_t> out) override {
        const std::u16string_view text(path);
        return text.empty() ? 0 : copyOut(text, out);
    }

    platform::ResourceHandle findResource(std::uint16_t id, const char16_t* type) override {
        const ResourceKey key{type, id};
        lookups.push_back(key);
        const auto found = resources.find(key);
        if (found == resources.end() || failsAt(key, Failure::Missing)) return nullptr;
        return &*found;
    }

    platform::ResourceMemory loadResource(platform::ResourceHandle resource) override {
        return failsAt(entryOf(resource).first, Failure::LoadFails) ? nullptr : resource;
    }

    std::uint32_t sizeofResource(platform::ResourceHandle resource) override {
        const auto& entry = entryOf(resource);
        return failsAt(entry.first, Failure::Empty) ? 0 : static_cast<std::uint32_t>(entry.second.size());
    }

    const void* lockResource(platform::ResourceMemory memory) override {
        const auto& entry = entryOf(memory);
        writing_ = entry.first;
        return failsAt(entry.first, Failure::LockFails) ? nullptr : entry.second.data();
    }

    platform::FileHandle createFile(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                                    std::uint32_t creation, std::uint32_t attributes) override {
        EXPECT_EQ(access, platform::kGenericWrite);
        EXPECT_EQ(shareMode, platform::kShareNone);
        EXPECT_EQ(creation, platform::kCreateAlways);
        EXPECT_EQ(attributes, platform::kFileAttributeNormal);
        if (failsAt(writing_, Failure::CreateFails)) return platform::kInvalidFile;
        handles_.push_back(path);
        files[path] = ""; // created or truncated
        ++openFiles;
        return static_cast<platform::FileHandle>(handles_.size() - 1);
    }

    bool writeFile(platform::FileHandle file, const void* data, std::uint32_t size,
                   std::uint32_t& written) override {
        if (failsAt(writing_, Failure::WriteFails)) return false;
        written = failsAt(writing_, Failure::ShortWrite) ? size / 2 : size;
        files[handles_.at(static_cast<std::size_t>(file))].assign(static_cast<const char*>(data), written);
        return true;
    }

    bool closeHandle(platform::FileHandle) override {
        --openFiles;
        return true;
    }

    std::uint32_t wideToThreadAnsi(const char16_t* text, std::span<char> out) override {
        const std::u16string_view wide(text);
        if (wide.size() + 1 > out.size()) return 0;
        for (std::size_t i = 0; i < wide.size(); ++i)
            out[i] = wide[i] < 0x80 ? static_cast<char>(wide[i]) : '?';
        out[wide.size()] = '\0';
        return static_cast<std::uint32_t>(wide.size() + 1);
    }

    std::uint32_t winExec(const char* commandLine, std::uint32_t showMode) override {
        started.emplace_back(commandLine, showMode);
        return 33;
    }

  private:
    static std::uint32_t copyOut(std::u16string_view text, std::span<char16_t> out) {
        if (text.size() + 1 > out.size()) return static_cast<std::uint32_t>(text.size() + 1);
        text.copy(out.data(), text.size());
        out[text.size()] = u'\0';
        return static_cast<std::uint32_t>(text.size());
    }

    static const std::pair<const ResourceKey, std::string>& entryOf(const void* resource) {
        return *static_cast<const std::pair<const ResourceKey, std::string>*>(resource);
    }

    bool failsAt(const ResourceKey& key, Failure step) const {
        return failure && failure->first == key && failure->second == step;
    }

    ResourceKey writing_;
    std::vector<std::u16string> handles_;
};

struct WrittenResource {
    ResourceKey resource;
    std::u16string fileName; // in the temporary directory
};

// The six written resources in chain order, with distinct contents.
const std::vector<WrittenResource> kChain{
    {{u"EXE", 131}, u"FWU1A2B.tmp"}, {{u"DLL", 139}, u"libusb-1.0.dll"}, {{u"EXE", 133}, u"AuxFlasher.tmp"},
    {{u"INI", 137}, u"config.ini"},  {{u"INI", 138}, u"VIDPIDList.ini"}, {{u"INI", 139}, u"VIDPIDTab.ini"},
};
const std::vector<ResourceKey> kCarriedOnly{{u"DLL", 136}, {u"DLL", 137}, {u"DLL", 138}};

std::string contentOf(const ResourceKey& key) {
    return "resource " + std::string(key.first.begin(), key.first.end()) + " " + std::to_string(key.second);
}

class LauncherRun : public testing::Test {
  protected:
    LauncherRun() {
        for (const WrittenResource& written : kChain)
            os.resources[written.resource] = contentOf(written.resource);
        for (const ResourceKey& carried : kCarriedOnly)
            os.resources[carried] = contentOf(carried);
    }

    bool run() {
        launcher::FwUpdaterApp app(os);
        return app.InitInstance();
    }

    // The files that the first `count` chain steps write, with their contents.
    std::map<std::u16string, std::string> firstFiles(std::size_t count) const {
        std::map<std::u16string, std::string> files;
        for (std::size_t i = 0; i < count; ++i)
            files[os.tempPath + kChain[i].fileName] = contentOf(kChain[i].resource);
        return files;
    }

    FakeOs os;
};

TEST_F(LauncherRun, WritesTheKitInChainOrderAndStartsTheQuotedUpdater) {
    launcher::FwUpdaterApp app(os);

    EXPECT_FALSE(app.InitInstance());

    EXPECT_EQ(os.commonControls, (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{8, 0xFF}}));
    EXPECT_EQ(app.RegistryKey(), u"Local AppWizard-Generated Applications");
    EXPECT_EQ(os.files, firstFiles(kChain.size()));
    std::vector<ResourceKey> chainOrder;
    for (const WrittenResource& written : kChain)
        chainOrder.push_back(written.resource);
    EXPECT_EQ(os.lookups, chainOrder) << "the carried libraries are never even looked up";
    EXPECT_EQ(os.started, (std::vector<std::pair<std::string, std::uint32_t>>{
                              {"\"C:\\Users\\Camera Maker\\AppData\\Local\\Temp\\FWU1A2B.tmp\"", 5}}));
    EXPECT_EQ(os.openFiles, 0);
}

// A failure at any step of the write routine, at any step of the chain: the files before stay, nothing
// later is written and nothing is started.
class LauncherChainFailure : public LauncherRun,
                             public testing::WithParamInterface<std::tuple<std::size_t, Failure>> {};

TEST_P(LauncherChainFailure, StopsTheChainAndStartsNothing) {
    const auto [step, failure] = GetParam();
    os.failure = {kChain[step].resource, failure};

    EXPECT_FALSE(run());

    std::map<std::u16string, std::string> expected = firstFiles(step);
    const std::u16string failedPath = os.tempPath + kChain[step].fileName;
    if (step == 0) expected[failedPath] = ""; // the unique file exists from its creation on
    if (failure == Failure::WriteFails) expected[failedPath] = "";
    if (failure == Failure::ShortWrite) {
        const std::string content = contentOf(kChain[step].resource);
        expected[failedPath] = content.substr(0, content.size() / 2);
    }
    EXPECT_EQ(os.files, expected);
    EXPECT_TRUE(os.started.empty());
    EXPECT_EQ(os.openFiles, 0);
    EXPECT_EQ(os.lookups.size(), step + 1);
}

std::string nameOf(const testing::TestParamInfo<LauncherChainFailure::ParamType>& info) {
    static const char* const kFailures[] = {"Missing",     "LoadFails",  "Empty",     "LockFails",
                                            "CreateFails", "WriteFails", "ShortWrite"};
    const auto [step, failure] = info.param;
    return "Step" + std::to_string(step + 1) + "_" + kFailures[static_cast<int>(failure)];
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, LauncherChainFailure,
    testing::Combine(testing::Range<std::size_t>(0, 6),
                     testing::Values(Failure::Missing, Failure::LoadFails, Failure::Empty, Failure::LockFails,
                                     Failure::CreateFails, Failure::WriteFails, Failure::ShortWrite)),
    nameOf);

TEST_F(LauncherRun, WithoutATemporaryDirectoryWritesAndStartsNothing) {
    for (const bool tooLong : {false, true}) {
        SCOPED_TRACE(tooLong ? "directory longer than the buffer" : "GetTempPath fails");
        os.tempPathFails = !tooLong;
        os.tempPath = std::u16string(tooLong ? 300 : 10, u'd') + u"\\";

        EXPECT_FALSE(run());

        EXPECT_TRUE(os.files.empty());
        EXPECT_TRUE(os.lookups.empty());
        EXPECT_TRUE(os.started.empty());
    }
}

TEST_F(LauncherRun, WithoutAUniqueFileTheUpdatersWriteFailsAndNothingIsStarted) {
    os.tempFileFails = true;

    EXPECT_FALSE(run());

    EXPECT_TRUE(os.files.empty());
    EXPECT_EQ(os.lookups, std::vector<ResourceKey>{kChain[0].resource});
    EXPECT_TRUE(os.started.empty());
}

TEST_F(LauncherRun, FileNamesThatMakeThePathLongerThanMaxPathStopTheChain) {
    // 247 + "FWU1A2B.tmp" is 258 characters; 247 + "libusb-1.0.dll" is 261, beyond MAX_PATH.
    os.tempPath = u"C:\\" + std::u16string(243, u't') + u"\\";
    ASSERT_EQ(os.tempPath.size(), 247u);

    EXPECT_FALSE(run());

    EXPECT_EQ(os.files, firstFiles(1));
    EXPECT_TRUE(os.started.empty());
}

} // namespace
