#pragma once
// Runs a benchmark inside a fresh temporary directory, removed afterwards.
#include <cstdlib>
#include <filesystem>
#include <string>

struct Scratch_Directory {
    std::filesystem::path old_dir, dir;
    Scratch_Directory() : old_dir(std::filesystem::current_path()) {
        std::string name =
            (std::filesystem::temp_directory_path() / "cavity-bench-XXXXXX").string();
        if (!::mkdtemp(name.data()))
            std::abort();
        dir = name;
        std::filesystem::current_path(dir);
    }
    ~Scratch_Directory() {
        std::filesystem::current_path(old_dir);
        std::filesystem::remove_all(dir);
    }
};
