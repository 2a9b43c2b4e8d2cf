#include "restart/durable_file.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

[[noreturn]] void Fail(const char* what, const std::string& name, int err) {
    throw Output_Error(std::string("output error: ") + what + " " + name + ": " +
                       std::strerror(err));
}

bool Write_All(int fd, std::string_view piece, off_t& at) {
    while (!piece.empty()) {
        const ssize_t w = ::pwrite(fd, piece.data(), piece.size(), at);
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0)
            return false;
        piece.remove_prefix(std::size_t(w));
        at += w;
    }
    return true;
}

// FILE.tmp written through and flushed; removed again where that fails.
void Write_Flushed(const std::string& tmp, const std::string& file,
                   const std::function<void(const Text_Sink&)>& write_text) {
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        Fail("cannot create", tmp, errno);
    struct Write_Failed {};
    off_t at = 0;
    int err = 0;
    try {
        write_text([&](std::string_view piece) {
            if (!Write_All(fd, piece, at)) {
                err = errno;
                throw Write_Failed{};
            }
        });
        if (::fsync(fd) != 0)
            err = errno;
    } catch (const Write_Failed&) {
    } catch (...) {
        ::close(fd);
        ::unlink(tmp.c_str());
        throw;
    }
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        ::unlink(tmp.c_str());
        Fail("cannot write", file, err);
    }
}

bool Exchange(const std::string& a, const std::string& b) {
#if defined(RENAME_EXCHANGE)
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
#else
    errno = ENOSYS;
    return false;
#endif
}

} // namespace

bool Flush_Folder_Of(const std::string& file) {
    const std::filesystem::path folder = std::filesystem::path(file).parent_path();
    const int fd =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // A file system that cannot flush a folder (EINVAL) keeps its entries
    // as it can; nothing more is to be had.
    const bool flushed = ::fsync(fd) == 0 || errno == EINVAL;
    const int err = errno;
    ::close(fd);
    errno = err;
    return flushed;
}

void Replace_Durably(const std::string& file,
                     const std::function<void(const Text_Sink&)>& write_text) {
    const std::string tmp = file + ".tmp", prev = file + ".prev";
    struct stat st {};
    const bool exists = ::lstat(file.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        Fail("cannot replace", file, S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
    Write_Flushed(tmp, file, write_text);
    bool exchanged = false;
    if (!exists) {
        ::unlink(prev.c_str());
    } else if (Exchange(tmp, file)) {
        exchanged = true;
    } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        ::unlink(prev.c_str());
        (void)::link(file.c_str(), prev.c_str()); // without hard links, no FILE.prev
    } else {
        const int err = errno;
        ::unlink(tmp.c_str());
        Fail("cannot replace", file, err);
    }
    if (!exchanged && ::rename(tmp.c_str(), file.c_str()) != 0) {
        const int err = errno;
        ::unlink(tmp.c_str());
        Fail("cannot replace", file, err);
    }
    if (!Flush_Folder_Of(file))
        Fail("cannot replace", file, errno);
    // The new FILE is on the disk: the previous one becomes FILE.prev. Should
    // this rename be lost, FILE.tmp holds it and FILE.prev the one before,
    // both whole.
    if (exchanged && ::rename(tmp.c_str(), prev.c_str()) != 0)
        ::unlink(tmp.c_str());
}
