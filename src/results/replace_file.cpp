#include "results/result_files.hpp"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The process's: the temporary file being written, for a signal handler to
// remove; one more temporary file of the run's own
// (Remove_Temporary_File_Too); whether the result files' temporary files are
// this process's (Own_Temporary_Files). A thread may keep its own.
Temporary_Files process_files;
thread_local Temporary_Files* thread_files = nullptr;

Temporary_Files& Files() {
    return thread_files ? *thread_files : process_files;
}

[[noreturn]] void Fail(const char* what, const char* name, int err) {
    throw Output_Error(std::string("output error: ") + what + " " + name + ": " +
                       std::strerror(err));
}

} // namespace

Temporary_Files* Temporary_Files_In(Temporary_Files* files) {
    Temporary_Files* before = thread_files;
    thread_files = files;
    return before;
}

void Remove_Partial_File_From_Signal() {
    Temporary_Files& f = Files();
    if (f.partial_active)
        ::unlink(f.partial_path);
    if (f.owned)
        for (const char* tmp : Temporary_File_Names)
            ::unlink(tmp);
    if (f.other_active)
        ::unlink(f.other_path);
}

namespace {

// Writes all of `piece` at `at` and moves `at` past it; false with errno set
// on failure.
bool Write_At(int fd, std::string_view piece, off_t& at) {
    const char* p = piece.data();
    std::size_t left = piece.size();
    while (left > 0) {
        ssize_t w = ::pwrite(fd, p, left, at);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += w;
        at += w;
        left -= std::size_t(w);
    }
    return true;
}

bool Exchange(const char* from, const char* to) {
#if defined(RENAME_EXCHANGE)
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        return false;
#endif
    return ::rename(from, to) == 0; // where exchanging is not supported
}

} // namespace

void Replace_File(const char* name, const std::string& text) {
    Replace_File(name, [&](const Text_Sink& write) { write(text); });
}

void Replace_File(const char* name, const std::function<void(const Text_Sink&)>& write_text) {
    char* const partial_path = Files().partial_path;
    volatile std::sig_atomic_t& partial_active = Files().partial_active;
    std::string tmp = std::string(name) + ".tmp";
    if (tmp.size() >= sizeof Temporary_Files::partial_path)
        Fail("cannot create", name, ENAMETOOLONG);
    // Only ever exchange with a regular file: a directory or a device of
    // that name is the user's and is left alone.
    struct stat st {};
    const bool exists = ::lstat(name, &st) == 0;
    if (exists && !S_ISREG(st.st_mode))
        Fail("cannot replace", name, S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
    // Registered before it is opened, so that a signal at any moment after
    // the file is created finds it; removing a file not yet there does no harm.
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(partial_path, tmp.c_str(), tmp.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    partial_active = 1;
    // The temporary file is overwritten in place rather than truncated: a
    // file system that flushes a file truncated or renamed over another
    // (ext4 does) would otherwise stall every report on the disk.
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        int err = errno;
        partial_active = 0;
        Fail("cannot create", tmp.c_str(), err);
    }
    auto abandon = [&](const char* what, int err) {
        ::close(fd);
        ::unlink(tmp.c_str());
        partial_active = 0;
        Fail(what, name, err);
    };
    struct stat tst {};
    if (::fstat(fd, &tst) != 0 || !S_ISREG(tst.st_mode))
        abandon("cannot create", EEXIST);
    struct Write_Failed {};
    off_t at = 0;
    int write_error = 0;
    try {
        write_text([&](std::string_view piece) {
            if (!Write_At(fd, piece, at)) {
                write_error = errno;
                throw Write_Failed{};
            }
        });
    } catch (const Write_Failed&) {
        abandon("cannot write", write_error);
    } catch (...) {
        ::close(fd);
        ::unlink(tmp.c_str());
        partial_active = 0;
        throw;
    }
    if (tst.st_size > at && ::ftruncate(fd, at) != 0)
        abandon("cannot write", errno);
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tmp.c_str());
        partial_active = 0;
        Fail("cannot write", name, err);
    }
    // One atomic step: the name now holds the new snapshot, and the
    // temporary name the previous one, to be overwritten next time.
    if (!(exists ? Exchange(tmp.c_str(), name) : ::rename(tmp.c_str(), name) == 0)) {
        int err = errno;
        ::unlink(tmp.c_str());
        partial_active = 0;
        Fail("cannot replace", name, err);
    }
    partial_active = 0;
}

void Remove_Temporary_File_Too(const std::string& tmp) {
    Temporary_Files& f = Files();
    if (tmp.size() >= sizeof f.other_path)
        return; // too long to have been created
    f.other_active = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    std::memcpy(f.other_path, tmp.c_str(), tmp.size() + 1);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    f.other_active = 1;
}

void Own_Temporary_Files(bool own) {
    Files().owned = own;
}

void Remove_Temporary_Files() {
    Temporary_Files& f = Files();
    if (f.owned)
        for (const char* tmp : Temporary_File_Names)
            ::unlink(tmp);
    if (f.other_active)
        ::unlink(f.other_path);
}

void Remove_Temporary_Files(const std::string& folder) {
    for (const char* tmp : Temporary_File_Names)
        ::unlink(Result_Path(folder, tmp).c_str());
}
