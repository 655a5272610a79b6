// The operating-system services of the launcher, shaped like the OS calls it makes: the common controls,
// the temporary directory and unique temporary files, the program's own resources, file creation and
// writing, the thread's ANSI code page and the start of a program. Each call fails where the OS call does.
// platform/win32 makes the real Windows calls; platform/posix offers the same on Linux.
#pragma once

#include <cstdint>
#include <span>

namespace platform {

// MAX_PATH: the size, in characters, of the path buffers the launcher uses.
inline constexpr std::uint32_t kMaxPath = 260;

// Argument values of the calls below, with their Windows meanings.
inline constexpr std::uint32_t kIccWin95Classes = 0xFF;     // InitCommonControlsEx classes
inline constexpr std::uint32_t kGenericWrite = 0x40000000;  // CreateFile access
inline constexpr std::uint32_t kShareNone = 0;              // CreateFile share mode
inline constexpr std::uint32_t kCreateAlways = 2;           // CreateFile creation mode
inline constexpr std::uint32_t kFileAttributeNormal = 0x80; // CreateFile attributes
inline constexpr std::uint32_t kShowWindow = 5;             // SW_SHOW

// HRSRC and HGLOBAL of a resource; null when the call fails.
using ResourceHandle = const void*;
using ResourceMemory = const void*;

// A file HANDLE; kInvalidFile (INVALID_HANDLE_VALUE) when the create fails.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

class Launch {
  public:
    virtual ~Launch() = default;

    // InitCommonControlsEx with a record of `size` bytes and the class flags `classes`.
    virtual bool initCommonControlsEx(std::uint32_t size, std::uint32_t classes) = 0;

    // GetTempPathW: the temporary directory, ending in a separator, terminated. Returns its length without
    // the terminator, 0 on failure, or the size needed when `buffer` is too small.
    virtual std::uint32_t getTempPath(std::span<char16_t> buffer) = 0;

    // GetTempFileNameW(directory, prefix, 0, out): creates an empty file named <prefix>hhhh.tmp in
    // `directory`, with a number no other file there has, and puts its path in `out` (kMaxPath characters).
    // Returns the number, or 0 on failure.
    virtual std::uint32_t getTempFileName(const char16_t* directory, const char16_t* prefix,
                                          std::span<char16_t> out) = 0;

    // GetFullPathNameW: the absolute form of `path`, terminated. Returns its length without the terminator,
    // 0 on failure, or the size needed when `out` is too small.
    virtual std::uint32_t getFullPathName(const char16_t* path, std::span<char16_t> out) = 0;

    // FindResourceW, LoadResource, SizeofResource and LockResource on the program's own module; the
    // resource is named by its numeric id and its type's name.
    virtual ResourceHandle findResource(std::uint16_t id, const char16_t* type) = 0;
    virtual ResourceMemory loadResource(ResourceHandle resource) = 0;
    virtual std::uint32_t sizeofResource(ResourceHandle resource) = 0;
    virtual const void* lockResource(ResourceMemory memory) = 0;

    // CreateFileW without security attributes or template file.
    virtual FileHandle createFile(const char16_t* path, std::uint32_t access, std::uint32_t shareMode,
                                  std::uint32_t creation, std::uint32_t attributes) = 0;
    // WriteFile: one synchronous write; `written` receives the bytes written.
    virtual bool writeFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t& written) = 0;
    virtual bool closeHandle(FileHandle file) = 0;

    // WideCharToMultiByte(CP_THREAD_ACP) of a terminated text into `out`, terminator included. Returns the
    // bytes written, terminator included, or 0 on failure.
    virtual std::uint32_t wideToThreadAnsi(const char16_t* text, std::span<char> out) = 0;

    // WinExec: starts the program the command line names. Returns a value above 31 when it started.
    virtual std::uint32_t winExec(const char* commandLine, std::uint32_t showMode) = 0;
};

// The launcher services of this process, provided by whichever side of the seam is linked in.
Launch& launch();

} // namespace platform
