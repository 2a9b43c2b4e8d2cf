#pragma once
// Runs in a fresh temporary folder and returns to the one before, for tests
// of procedures that write in the working folder.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdlib.h>
#include <string>

struct In_Temporary_Folder {
    std::filesystem::path before, dir;
    In_Temporary_Folder() : before(std::filesystem::current_path()) {
        std::string tmpl = (std::filesystem::temp_directory_path() / "cavity-out-XXXXXX").string();
        dir = ::mkdtemp(tmpl.data());
        std::filesystem::current_path(dir);
    }
    In_Temporary_Folder(const In_Temporary_Folder&) = delete;
    ~In_Temporary_Folder() {
        std::filesystem::current_path(before);
        std::filesystem::remove_all(dir);
    }
    std::string Read(const char* name) const {
        std::ifstream in(dir / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};
