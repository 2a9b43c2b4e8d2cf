#pragma once
// Starts the real program in a folder without a shell, so that a test can
// signal it and read its exit status and resource use exactly.
#include "support/sanitizer.hpp"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

#ifndef CAVITY_BIN
#error "CAVITY_BIN must name the program under test"
#endif

extern char** environ;

namespace program {

// Runs the program in `dir` with console.in as standard input and
// console.out and console.err as its outputs; returns its process id.
inline pid_t Spawn_Program(const std::filesystem::path& dir,
                           std::vector<std::string> options = {}) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "console.in", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "console.out", O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, "console.err", O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<char*> argv = {const_cast<char*>(CAVITY_BIN)};
    for (std::string& o : options)
        argv.push_back(o.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int err = posix_spawn(&pid, CAVITY_BIN, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0)
        throw std::runtime_error("cannot start " CAVITY_BIN);
    return pid;
}

struct Ended {
    int status = 0; // as from waitpid
    rusage usage{};
};

inline Ended Wait_Program(pid_t pid) {
    Ended e;
    while (::wait4(pid, &e.status, 0, &e.usage) < 0 && errno == EINTR) {
    }
    return e;
}

} // namespace program
