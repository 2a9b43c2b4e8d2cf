#include "process/folder_lock.hpp"

#include "results/result_files.hpp"
#include "textio/console.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

int lock_fd = -1;
volatile std::sig_atomic_t lock_held = 0;

std::string Read_Text(int fd) {
    char buf[64];
    const ssize_t r = ::pread(fd, buf, sizeof buf, 0);
    return r > 0 ? std::string(buf, std::size_t(r)) : std::string();
}

// The id of the run holding the lock. It writes it just after taking the
// lock, so a run refused in that moment waits for it a little.
std::string Holder_Of(int fd) {
    for (int tries = 0; tries < 50; ++tries) {
        const std::string pid = Lock_Holder(Read_Text(fd));
        if (!pid.empty())
            return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return "";
}

[[noreturn]] void Refuse(int fd) {
    const std::string pid = Holder_Of(fd);
    ::close(fd);
    throw Output_Error("output error: this folder is in use by another run (" +
                       (pid.empty() ? std::string("process id unknown") : "process id " + pid) +
                       ", lock file " + Lock_File_Name +
                       "); wait for that run to end, or start this one in another folder");
}

// What to do about a folder the run cannot write in.
constexpr const char* Folder_Remedy =
    "; a run writes its lock and its result files in the folder it starts in: start it in a "
    "folder you may write to";

// The file system takes no locks: the run goes on without one, as it would
// have on a file system that has them with nobody else in the folder.
bool No_Locks_Here(int err) {
    return err == ENOLCK || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL;
}

void Warn_Unlocked(int err) {
    textio::Console_Note(std::string("warning: the lock file ") + Lock_File_Name +
                         " cannot be locked here (" + std::strerror(err) +
                         "): the run goes on without the lock, so a second run started in this "
                         "folder meanwhile would not be refused and would overwrite its files");
}

// Whether fd is the file that has the lock file's name now: a run ending
// removes it, and a lock on a removed file would lock nothing.
bool Is_The_Named_File(int fd) {
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 && ::stat(Lock_File_Name, &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

std::string Lock_Holder(const std::string& text) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    if (digits == 0 || digits > 10 || digits >= text.size() || text[digits] != '\n')
        return "";
    return text.substr(0, digits);
}

void Lock_Working_Folder() {
    for (int tries = 0; tries < 100; ++tries) {
        int fd = ::open(Lock_File_Name, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        const int open_error = errno;
        const bool writable = fd >= 0;
        if (fd < 0 && open_error == EACCES) // another user's lock file: a lock needs no writing
            fd = ::open(Lock_File_Name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) // the run could write none of its files here either
            throw Output_Error(std::string("output error: cannot create the lock file ") +
                               Lock_File_Name + " in this folder: " + std::strerror(open_error) +
                               Folder_Remedy);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            if (err == EWOULDBLOCK)
                Refuse(fd);
            ::close(fd);
            if (err == EINTR)
                continue;
            if (!No_Locks_Here(err))
                throw Output_Error(std::string("output error: cannot lock ") + Lock_File_Name +
                                   ": " + std::strerror(err));
            Warn_Unlocked(err);
            return;
        }
        if (!Is_The_Named_File(fd)) {
            ::close(fd);
            continue;
        }
        if (writable) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            // A stale id of a killed run is overwritten; failing to write
            // leaves the lock in place, only its message without the id.
            if (::ftruncate(fd, 0) == 0)
                (void)!::pwrite(fd, pid.data(), pid.size(), 0);
        }
        lock_fd = fd;
        lock_held = 1;
        return;
    }
}

void Unlock_Working_Folder() {
    if (!lock_held)
        return;
    // Removed while still locked: a run that opened it meanwhile finds, once
    // it has the lock, that the name no longer leads to it, and tries again.
    ::unlink(Lock_File_Name);
    lock_held = 0;
    ::close(lock_fd);
    lock_fd = -1;
}

void Unlock_Working_Folder_From_Signal() {
    if (lock_held)
        ::unlink(Lock_File_Name);
}

namespace {

[[noreturn]] void Cannot(const char* what, const char* name, int err) {
    throw Output_Error(std::string("output error: cannot ") + what + " " + name + ": " +
                       std::strerror(err) + Folder_Remedy);
}

} // namespace

void Check_Result_Files_Can_Be_Written() {
    for (std::size_t k = 0; k < std::size(Result_File_Names); ++k) {
        const char *name = Result_File_Names[k], *tmp = Temporary_File_Names[k];
        struct stat st {};
        if (::lstat(name, &st) == 0 && !S_ISREG(st.st_mode))
            throw Output_Error(std::string("output error: cannot replace ") + name + ": " +
                               std::strerror(S_ISDIR(st.st_mode) ? EISDIR : EEXIST) +
                               "; the run writes its result files under their names: move it "
                               "away, or start the run in another folder");
        // A temporary file left by a killed run is this run's now: removing
        // it tries the folder as replacing a result file will.
        if (::unlink(tmp) != 0 && errno != ENOENT)
            Cannot("remove", tmp, errno);
        const int fd = ::open(tmp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0)
            Cannot("create", tmp, errno);
        ::close(fd);
        ::unlink(tmp);
    }
}
