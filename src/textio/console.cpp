#include "textio/console.hpp"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace textio {
namespace {

// One buffer for standard output, written out after every record so that
// prompts and reports appear at once; plain data so that the trap handler can
// write it out.
constexpr std::size_t Capacity = 4096;
char buffer[Capacity];
std::size_t used = 0;
bool line_open = false;       // a console line is shown and not yet ended
bool break_suppressed = true; // first line of the run, or first after a read

void Write_All(int fd, const char* p, std::size_t len) {
    while (len > 0) {
        ssize_t w = ::write(fd, p, len);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return; // nowhere left to report a console that cannot be written
        }
        p += w;
        len -= std::size_t(w);
    }
}

void Append(const char* p, std::size_t len) {
    if (used + len > Capacity) {
        Write_All(1, buffer, used);
        used = 0;
        if (len > Capacity) {
            Write_All(1, p, len);
            return;
        }
    }
    std::memcpy(buffer + used, p, len);
    used += len;
}

void Begin_Line() {
    if (!break_suppressed)
        Append("\r\n", 2);
    break_suppressed = false;
    line_open = true;
}

} // namespace

void Console_Flush() {
    Write_All(1, buffer, used);
    used = 0;
}

void Console_Line(const char* line, std::size_t len) {
    Begin_Line();
    if (len > 1)
        Append(line + 1, len - 1);
}

void Console_Plain_Line(std::string_view text) {
    if (line_open)
        Append("\r\n", 2);
    Append(text.data(), text.size());
    Append("\r\n", 2);
    line_open = false;
    break_suppressed = true;
}

void Console_Keyboard_Read() {
    line_open = false;
    break_suppressed = true;
}

void Console_Close() {
    if (line_open)
        Append("\r\n", 2);
    line_open = false;
    break_suppressed = true;
    Console_Flush();
}

namespace {

bool Same_Terminal(int a, int b) {
    struct stat sa {
    }, sb{};
    return ::isatty(a) && ::isatty(b) && ::fstat(a, &sa) == 0 && ::fstat(b, &sb) == 0 &&
           sa.st_rdev == sb.st_rdev;
}

} // namespace

void Console_Note(std::string_view line) {
    Console_Flush();
    if (line_open && Same_Terminal(1, 2))
        Write_All(2, "\n", 1);
    Write_All(2, line.data(), line.size());
    Write_All(2, "\n", 1);
}

void Console_Close_From_Signal() {
    Console_Close();
}

} // namespace textio
