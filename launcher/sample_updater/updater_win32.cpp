// The sample kit's updater. It appends to "updater-run.log" beside its own file the path it runs from and
// the command line it was given, and ends. A camera maker's kit puts the real updater in its place.
#include <windows.h>

#include <string>

namespace {

std::string utf8(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                           0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), size, nullptr,
                          nullptr);
    return out;
}

} // namespace

int main() {
    wchar_t module[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    const std::wstring modulePath(module, length);
    const std::wstring logPath =
        modulePath.substr(0, modulePath.find_last_of(L'\\') + 1) + L"updater-run.log";
    const std::string record =
        "module: " + utf8(modulePath) + "\r\ncommand line: " + utf8(::GetCommandLineW()) + "\r\n";

    HANDLE log = ::CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(log, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    ::CloseHandle(log);
    return ok && written == record.size() ? 0 : 1;
}
