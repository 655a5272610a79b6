// The Windows side of the launcher services: the real kernel, resource and common-controls calls.
#include "platform/launch.h"

#include <windows.h>

#include <commctrl.h>

namespace platform {

namespace {

const wchar_t* wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}
wchar_t* wide(char16_t* text) {
    return reinterpret_cast<wchar_t*>(text);
}

HANDLE handleOf(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

class Win32Launch final : public Launch {
  public:
    bool initCommonControlsEx(std::uint32_t size, std::uint32_t classes) override {
        INITCOMMONCONTROLSEX controls{size, classes};
        return ::InitCommonControlsEx(&controls) != FALSE;
    }

    std::uint32_t getTempPath(std::span<char16_t> buffer) override {
        return ::GetTempPathW(static_cast<DWORD>(buffer.size()), wide(buffer.data()));
    }

    std::uint32_t getTempFileName(const char16_t* directory, const char16_t* prefix,
                                  std::span<char16_t> out) override {
        if (out.size() < kMaxPath) return 0;
        return ::GetTempFileNameW(wide(directory), wide(prefix), 0, wide(out.data()));
    }

    std::uint32_t getFullPathName(const char16_t* path, std::span<char16_t> out) override {
        return ::GetFullPathNameW(wide(path), static_cast<DWORD>(out.size()), wide(out.data()), nullptr);
    }

    ResourceHandle findResource(std::uint16_t id, const char16_t* type) override {
        return ::FindResourceW(nullptr, MAKEINTRESOURCEW(id), wide(type));
    }

    ResourceMemory loadResource(ResourceHandle resource) override {
        return ::LoadResource(nullptr, static_cast<HRSRC>(const_cast<void*>(resource)));
    }

    std::uint32_t sizeofResource(ResourceHandle resource) override {
        return ::SizeofResource(nullptr, static_cast<HRSRC>(const_cast<void*>(resource)));
    }

    const void* lockResource(ResourceMemory memory) override {
        return ::LockResource(const_cast<void*>(memory));
    }

    FileHandle createFile(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                          std::uint32_t creation, std::uint32_t attributes) override {
        HANDLE file = ::CreateFileW(wide(path), access, shareMode, nullptr, creation, attributes, nullptr);
        return file == INVALID_HANDLE_VALUE ? kInvalidFile : reinterpret_cast<FileHandle>(file);
    }

    bool writeFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t& written) override {
        DWORD done = 0;
        const BOOL ok = ::WriteFile(handleOf(file), data, size, &done, nullptr);
        written = done;
        return ok != FALSE;
    }

    bool closeHandle(FileHandle file) override { return ::CloseHandle(handleOf(file)) != FALSE; }

    std::uint32_t wideToThreadAnsi(const char16_t* text, std::span<char> out) override {
        const int bytes = ::WideCharToMultiByte(CP_THREAD_ACP, 0, wide(text), -1, out.data(),
                                                static_cast<int>(out.size()), nullptr, nullptr);
        return static_cast<std::uint32_t>(bytes);
    }

    std::uint32_t winExec(const char* commandLine, std::uint32_t showMode) override {
        return ::WinExec(commandLine, showMode);
    }
};

} // namespace

Launch& launch() {
    static Win32Launch instance;
    return instance;
}

} // namespace platform
