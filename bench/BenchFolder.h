// The folder a benchmark writes its files in, found the same way by every program.
#pragma once

#include <filesystem>
#include <string>

// The folder given as the second argument, or `name` in the temporary folder;
// emptied first unless `keepFiles`.
inline std::string BenchFolder(int argc, char** argv, const std::string& name, bool keepFiles = false) {
    const std::string dir = argc > 2 ? argv[2] : (std::filesystem::temp_directory_path() / name).string();
    if (!keepFiles) std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}
