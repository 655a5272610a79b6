// fwcarrier itself, run as Windows starts it. Each run gets a temporary directory of the test's own (TEMP and
// TMP of its environment) and runs in a job, so the test waits until the launcher and the updater it starts
// have both ended. The sample updater records each of its runs, which tells whether and how it was started.
#include "kit_files.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The Windows path of a file of the build: Wine shows the Linux root as drive Z:.
fs::path windowsPath(const std::string& linuxPath) {
    std::wstring path = L"Z:" + std::wstring(linuxPath.begin(), linuxPath.end());
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string kitBytes(std::u16string_view type, std::uint16_t id) {
    for (const KitFile& file : kKitFiles) {
        if (file.type == type && file.id == id) return readFile(windowsPath(file.path));
    }
    ADD_FAILURE() << "no kit file for resource " << id;
    return {};
}

std::string utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.pop_back();
    return out;
}

// This process's environment with TEMP and TMP replaced by `tempDirectory`, as a CreateProcessW block.
std::wstring environmentWithTemp(const fs::path& tempDirectory) {
    std::wstring block;
    wchar_t* strings = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const bool temp = _wcsnicmp(entry, L"TEMP=", 5) == 0 || _wcsnicmp(entry, L"TMP=", 4) == 0;
        if (!temp) block.append(entry).push_back(L'\0');
    }
    ::FreeEnvironmentStringsW(strings);
    for (const wchar_t* name : {L"TEMP=", L"TMP="})
        block.append(name + tempDirectory.wstring()).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

// Runs `program` in a job and waits until no process of the job is left; returns the program's exit code.
DWORD runInJob(const fs::path& program, const fs::path& tempDirectory) {
    DWORD exitCode = 0;
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    HANDLE port = ::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1);
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{job, port};
    EXPECT_TRUE(::SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &association,
                                          sizeof association));

    std::wstring environment = environmentWithTemp(tempDirectory);
    std::wstring commandLine = L"\"" + program.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const BOOL created = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                          CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT, environment.data(),
                                          nullptr, &startup, &process);
    EXPECT_TRUE(created) << "cannot start " << program;
    if (created) {
        EXPECT_TRUE(::AssignProcessToJobObject(job, process.hProcess));
        ::ResumeThread(process.hThread);
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED overlapped = nullptr;
        bool ended = false;
        // The timeout only bounds a hung run; the wait ends when the job's last process ends.
        while (!ended && ::GetQueuedCompletionStatus(port, &message, &key, &overlapped, 60000)) {
            ended = message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO;
        }
        EXPECT_TRUE(ended) << "the run did not end";
        ::GetExitCodeProcess(process.hProcess, &exitCode);
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    ::CloseHandle(port);
    ::CloseHandle(job);
    return exitCode;
}

const std::set<std::wstring> kFixedNames{L"libusb-1.0.dll", L"AuxFlasher.tmp", L"config.ini",
                                         L"VIDPIDList.ini", L"VIDPIDTab.ini"};

class LauncherUnderWindows : public testing::Test {
  protected:
    void SetUp() override {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        root_ = windowsPath(kWorkDirectory) / test->name();
        fs::remove_all(root_);
        tempDirectory_ = root_ / "Temp";
        fs::create_directories(tempDirectory_);
    }

    void useTempDirectory(const fs::path& directory) {
        tempDirectory_ = directory;
        fs::create_directories(tempDirectory_);
    }

    DWORD runLauncher(const fs::path& program = windowsPath(kFwcarrier)) {
        // GetTempPathW ends the directory in a backslash.
        return runInJob(program, tempDirectory_.wstring() + L"\\");
    }

    std::set<std::wstring> fileNames() const {
        std::set<std::wstring> names;
        for (const auto& entry : fs::directory_iterator(tempDirectory_))
            names.insert(entry.path().filename());
        return names;
    }

    // The FWUhhhh.tmp files, by name: the number has up to four hex digits.
    std::vector<fs::path> uniqueFiles() const {
        static const std::wregex pattern(L"FWU[0-9A-Fa-f]{1,4}\\.tmp");
        std::vector<fs::path> files;
        for (const std::wstring& name : fileNames()) {
            if (std::regex_match(name, pattern)) files.push_back(tempDirectory_ / name);
        }
        return files;
    }

    // The records of the sample updater's runs: "module: ...\r\ncommand line: ...\r\n" each.
    std::string updaterRecords() const { return readFile(tempDirectory_ / "updater-run.log"); }
    bool updaterStarted() const { return fs::exists(tempDirectory_ / "updater-run.log"); }

    static std::string recordOf(const fs::path& updater, const std::wstring& commandLine) {
        return "module: " + utf8(updater.wstring()) + "\r\ncommand line: " + utf8(commandLine) + "\r\n";
    }

    void expectKitFiles() const {
        EXPECT_EQ(readFile(tempDirectory_ / "libusb-1.0.dll"), kitBytes(u"DLL", 139));
        EXPECT_EQ(readFile(tempDirectory_ / "AuxFlasher.tmp"), kitBytes(u"EXE", 133));
        EXPECT_EQ(readFile(tempDirectory_ / "config.ini"), kitBytes(u"INI", 137));
        EXPECT_EQ(readFile(tempDirectory_ / "VIDPIDList.ini"), kitBytes(u"INI", 138));
        EXPECT_EQ(readFile(tempDirectory_ / "VIDPIDTab.ini"), kitBytes(u"INI", 139));
    }

    fs::path root_;
    fs::path tempDirectory_;
};

TEST_F(LauncherUnderWindows, WritesTheKitAndStartsTheUpdaterFromItsUniqueFile) {
    EXPECT_EQ(runLauncher(), 0u);

    const std::vector<fs::path> unique = uniqueFiles();
    ASSERT_EQ(unique.size(), 1u);
    EXPECT_EQ(readFile(unique[0]), kitBytes(u"EXE", 131));
    expectKitFiles();
    // The six files and the updater's record, nothing else: the carried libraries are never written.
    std::set<std::wstring> expected = kFixedNames;
    expected.insert({unique[0].filename(), L"updater-run.log"});
    EXPECT_EQ(fileNames(), expected);
    // The updater's command line is its quoted path alone.
    EXPECT_EQ(updaterRecords(), recordOf(unique[0], L"\"" + unique[0].wstring() + L"\""));
}

TEST_F(LauncherUnderWindows, SecondRunAddsAUniqueFileAndRewritesTheFixedNames) {
    runLauncher();
    const std::vector<fs::path> first = uniqueFiles();
    // Longer content than the kit's: the second run must truncate, not only overwrite.
    for (const std::wstring& name : kFixedNames)
        writeFile(tempDirectory_ / name, std::string(4096, 'x'));

    runLauncher();

    const std::vector<fs::path> unique = uniqueFiles();
    ASSERT_EQ(unique.size(), 2u);
    ASSERT_EQ(first.size(), 1u);
    const fs::path secondUpdater = unique[0] == first[0] ? unique[1] : unique[0];
    EXPECT_EQ(readFile(first[0]), kitBytes(u"EXE", 131));
    EXPECT_EQ(readFile(secondUpdater), kitBytes(u"EXE", 131));
    expectKitFiles();
    EXPECT_EQ(updaterRecords(), recordOf(first[0], L"\"" + first[0].wstring() + L"\"") +
                                    recordOf(secondUpdater, L"\"" + secondUpdater.wstring() + L"\""));
}

TEST_F(LauncherUnderWindows, MissingDeviceTableStopsTheChainAfterFiveFiles) {
    runLauncher(windowsPath(FWCARRIER_WITHOUT_TABLE));

    EXPECT_FALSE(updaterStarted());
    const std::vector<fs::path> unique = uniqueFiles();
    ASSERT_EQ(unique.size(), 1u);
    EXPECT_EQ(readFile(unique[0]), kitBytes(u"EXE", 131));
    EXPECT_EQ(fileNames(), (std::set<std::wstring>{unique[0].filename(), L"libusb-1.0.dll", L"AuxFlasher.tmp",
                                                   L"config.ini", L"VIDPIDList.ini"}));
}

TEST_F(LauncherUnderWindows, LibraryHeldWithoutWriteSharingStopsTheChainAfterTheUpdaterFile) {
    const fs::path library = tempDirectory_ / "libusb-1.0.dll";
    writeFile(library, "in use");
    HANDLE held = ::CreateFileW(library.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);

    runLauncher();
    ::CloseHandle(held);

    EXPECT_FALSE(updaterStarted());
    const std::vector<fs::path> unique = uniqueFiles();
    ASSERT_EQ(unique.size(), 1u);
    EXPECT_EQ(readFile(unique[0]), kitBytes(u"EXE", 131));
    EXPECT_EQ(readFile(library), "in use");
    EXPECT_EQ(fileNames(), (std::set<std::wstring>{unique[0].filename(), L"libusb-1.0.dll"}));
}

TEST_F(LauncherUnderWindows, TempDirectoryWithSpacesStartsTheUpdaterAndNoProgramAtAPrefixOfItsPath) {
    // Unquoted, "<root>\launch test\my temp\FWUhhhh.tmp" would start <root>\launch.exe or
    // <root>\launch test\my.exe first. Both are planted: copies of the sample updater, which record any run.
    useTempDirectory(root_ / "launch test" / "my temp");
    fs::copy_file(windowsPath(kSampleUpdater), root_ / "launch.exe");
    fs::copy_file(windowsPath(kSampleUpdater), root_ / "launch test" / "my.exe");

    runLauncher();

    EXPECT_FALSE(fs::exists(root_ / "updater-run.log")) << readFile(root_ / "updater-run.log");
    EXPECT_FALSE(fs::exists(root_ / "launch test" / "updater-run.log"));
    const std::vector<fs::path> unique = uniqueFiles();
    ASSERT_EQ(unique.size(), 1u);
    expectKitFiles();
    EXPECT_EQ(updaterRecords(), recordOf(unique[0], L"\"" + unique[0].wstring() + L"\""));
}

} // namespace
