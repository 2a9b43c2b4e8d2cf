#include "python/folder_hold.hpp"

#include "process/folder_lock.hpp"
#include "results/result_files.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The id of the run holding the lock; it writes it just after taking the
// lock, so a run refused in that moment waits for it a little.
std::string Holder_Of(int fd) {
    for (int tries = 0; tries < 50; ++tries) {
        char buf[64];
        const ssize_t r = ::pread(fd, buf, sizeof buf, 0);
        const std::string pid = Lock_Holder(r > 0 ? std::string(buf, std::size_t(r)) : "");
        if (!pid.empty())
            return pid;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return "";
}

// Whether fd is the file that has the lock file's name now: a run ending
// removes it, and a lock on a removed file would lock nothing.
bool Is_The_Named_File(int fd, const std::string& path) {
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

void Folder_Hold::Take(const std::string& folder) {
    Release();
    const std::string path = Result_Path(folder, Lock_File_Name);
    for (int tries = 0; tries < 100; ++tries) {
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        const bool writable = fd >= 0;
        if (fd < 0 && errno == EACCES)
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            return;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            if (err == EWOULDBLOCK) {
                const std::string pid = Holder_Of(fd);
                ::close(fd);
                throw Output_Error(
                    "output error: the folder " + folder + " is in use by another run (" +
                    (pid.empty() ? std::string("process id unknown") : "process id " + pid) +
                    ", lock file " + Lock_File_Name +
                    "); wait for that run to end, or give this one another folder");
            }
            ::close(fd);
            if (err == EINTR)
                continue;
            return; // no locks on this file system
        }
        if (!Is_The_Named_File(fd, path)) {
            ::close(fd);
            continue;
        }
        if (writable) {
            const std::string pid = std::to_string(::getpid()) + "\n";
            if (::ftruncate(fd, 0) == 0)
                (void)!::pwrite(fd, pid.data(), pid.size(), 0);
        }
        fd_ = fd;
        path_ = path;
        return;
    }
}

void Folder_Hold::Release() {
    if (fd_ < 0)
        return;
    ::unlink(path_.c_str()); // while still locked, as the program does
    ::close(fd_);
    fd_ = -1;
}
