#include "textio/console.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
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
bool real_line_open = false;       // a console line is shown and not yet ended
bool real_break_suppressed = true; // first line of the run, or first after a read

// Where this thread's console goes instead of standard output and error
// (none: there). A keep holds its own line state and takes its bytes
// directly, so runs kept on several threads at once share nothing.
thread_local Console_Keep* keep = nullptr;

bool& Line_Open() {
    return keep ? keep->line_open : real_line_open;
}
bool& Break_Suppressed() {
    return keep ? keep->break_suppressed : real_break_suppressed;
}

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

// The status line, plain data for the signal handlers.
char status[512];
std::size_t status_len = 0;
bool status_shown = false;
bool status_below = false; // drawn on the line below an open console line
int status_shared = -1;    // standard output on the same terminal (-1: not known yet)

void Draw_Status() {
    if (status_len == 0)
        return;
    char out[sizeof status + 8];
    std::size_t len = 0;
    if (!status_shown && status_shared == 1 && real_line_open) {
        out[len++] = '\n'; // the next console line begins with its own line break
        status_below = true;
    }
    out[len++] = '\r';
    std::memcpy(out + len, status, status_len);
    len += status_len;
    std::memcpy(out + len, "\x1b[K", 3); // the rest of a longer line before
    Write_All(2, out, len + 3);
    status_shown = true;
}

// Back to where the console left the cursor: the start of the status line,
// or the line above it, whose rest the next console line break ends.
void Erase_Status() {
    if (!status_shown)
        return;
    static const char erase[] = "\r\x1b[K", erase_and_up[] = "\r\x1b[K\x1b[A";
    if (status_below)
        Write_All(2, erase_and_up, sizeof erase_and_up - 1);
    else
        Write_All(2, erase, sizeof erase - 1);
    status_shown = status_below = false;
}

// Standard output, with the status line out of the way on a shared terminal.
void Write_Console(const char* p, std::size_t len) {
    const bool around = status_shown && status_shared == 1;
    if (around)
        Erase_Status();
    Write_All(1, p, len);
    if (around)
        Draw_Status();
}

void Append(const char* p, std::size_t len) {
    if (keep) {
        keep->Output.append(p, len);
        return;
    }
    if (used + len > Capacity) {
        Write_Console(buffer, used);
        used = 0;
        if (len > Capacity) {
            Write_Console(p, len);
            return;
        }
    }
    std::memcpy(buffer + used, p, len);
    used += len;
}

void Begin_Line() {
    if (!Break_Suppressed())
        Append("\r\n", 2);
    Break_Suppressed() = false;
    Line_Open() = true;
}

} // namespace

void Console_Flush() {
    if (keep || used == 0)
        return;
    Write_Console(buffer, used);
    used = 0;
}

void Console_Line(const char* line, std::size_t len) {
    Begin_Line();
    if (len > 1)
        Append(line + 1, len - 1);
}

void Console_Plain_Line(std::string_view text) {
    if (Line_Open())
        Append("\r\n", 2);
    Append(text.data(), text.size());
    Append("\r\n", 2);
    Line_Open() = false;
    Break_Suppressed() = true;
}

void Console_Keyboard_Read() {
    Line_Open() = false;
    Break_Suppressed() = true;
}

void Console_Close() {
    if (!keep)
        Console_Status_Clear();
    if (Line_Open())
        Append("\r\n", 2);
    Line_Open() = false;
    Break_Suppressed() = true;
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
    if (keep) {
        keep->Notes.emplace_back(line);
        return;
    }
    Erase_Status();
    if (real_line_open && Same_Terminal(1, 2))
        Write_All(2, "\n", 1);
    Write_All(2, line.data(), line.size());
    Write_All(2, "\n", 1);
}

bool Console_Status_Wanted() {
    return !keep && ::isatty(2);
}

std::size_t Status_Cut(std::string_view text, std::size_t width) {
    if (text.size() <= width)
        return text.size();
    std::size_t blank = 0;
    for (std::size_t p = width; p > 0; --p) {
        const char before = text[p - 1], at = text[p];
        if (at == ' ' && (before == ' ' || before == ','))
            return p - 1;
        if (at == ' ' && blank == 0)
            blank = p;
    }
    return blank > 0 ? blank : width;
}

void Console_Status(std::string_view text) {
    if (keep)
        return;
    if (status_shared < 0)
        status_shared = Same_Terminal(1, 2) ? 1 : 0;
    struct winsize size {};
    std::size_t width = sizeof status;
    if (::ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 1)
        width = std::min<std::size_t>(width, size.ws_col - 1u); // no wrap at the last column
    status_len = Status_Cut(text, width);
    std::memcpy(status, text.data(), status_len);
    Draw_Status();
}

void Console_Status_Clear() {
    if (keep)
        return; // a kept console draws none
    Erase_Status();
    if (status_len != 0) // runs a library keeps on other threads pass here too
        status_len = 0;
}

void Console_Close_From_Signal() {
    if (!keep)
        Console_Close();
}

Console_Keep* Console_Keep_In(Console_Keep* to) {
    if (!keep) {
        Console_Flush();
        Console_Status_Clear();
    }
    Console_Keep* before = keep;
    keep = to;
    return before;
}

} // namespace textio
