// flock() as on a file system that takes no locks, put in front of the C
// library's by LD_PRELOAD: the program runs on it as on such a file system.
#include <cerrno>

extern "C" int flock(int, int) {
    errno = ENOLCK;
    return -1;
}
