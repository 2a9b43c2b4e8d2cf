#include "results/result_files.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The temporary file being written, for a signal handler to remove.
char partial_path[4096];
volatile std::sig_atomic_t partial_active = 0;

[[noreturn]] void Fail(const char* what, const char* name, int err) {
    throw Output_Error(std::string("output error: ") + what + " " + name + ": " +
                       std::strerror(err));
}

} // namespace

void Remove_Partial_File_From_Signal() {
    if (partial_active)
        ::unlink(partial_path);
}

void Replace_File(const char* name, const std::string& text) {
    std::string tmp = std::string(name) + ".tmp";
    if (tmp.size() >= sizeof partial_path)
        Fail("cannot create", name, ENAMETOOLONG);
    std::memcpy(partial_path, tmp.c_str(), tmp.size() + 1);
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        Fail("cannot create", tmp.c_str(), errno);
    partial_active = 1;
    auto abandon = [&](const char* what, int err) {
        ::close(fd);
        ::unlink(tmp.c_str());
        partial_active = 0;
        Fail(what, name, err);
    };
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t w = ::write(fd, p, left);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            abandon("cannot write", errno);
        }
        p += w;
        left -= std::size_t(w);
    }
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        partial_active = 0;
        Fail("cannot write", name, err);
    }
    if (::rename(tmp.c_str(), name) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        partial_active = 0;
        Fail("cannot replace", name, err);
    }
    partial_active = 0;
}
