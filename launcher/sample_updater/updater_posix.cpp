// The sample kit's updater. It appends to "updater-run.log" beside its own file the path it runs from and
// the arguments it was given, and ends. A camera maker's kit puts the real updater in its place.
#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    std::error_code error;
    const std::filesystem::path module = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return 1;
    std::string record = "module: " + module.string() + "\ncommand line:";
    for (int i = 0; i < argc; ++i)
        record += std::string(" ") + argv[i];
    std::ofstream log(module.parent_path() / "updater-run.log", std::ios::app);
    log << record << '\n';
    return log ? 0 : 1;
}
