#pragma once
// The console: standard output as the record writer sees it. The first
// character of each record line is carriage control and is not shown; the
// line break goes in front of a line, so a line stays open until the next
// line, a keyboard read or the end of the program.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace textio {

// Shows one record line (its first character is the carriage-control blank).
void Console_Line(const char* line, std::size_t len);

// Writes text as it stands, on a fresh line, followed by a line break.
void Console_Plain_Line(std::string_view text);

// To be called after a line has been read from the keyboard: the user's
// Enter has ended the open line.
void Console_Keyboard_Read();

// Ends an open line with CR LF and writes out everything pending. Called at
// the end of the program, and before an error report.
void Console_Close();

// Writes out everything pending (before a read or before a command runs).
void Console_Flush();

// Writes one line for a person to standard error (a warning, a note on how
// the run went). Standard output keeps every byte: where both go to the same
// terminal and a console line is open, the note starts on a line of its own.
void Console_Note(std::string_view line);

// The status line: while standard error is a terminal, one line there
// rewritten in place. Where standard output shares that terminal, the
// status line is taken away before each write to standard output and drawn
// again after it (below an open console line), so that the terminal shows
// every console line as it would without it; standard output keeps every
// byte either way.
bool Console_Status_Wanted();               // standard error is a terminal
void Console_Status(std::string_view text); // cut to the terminal's width
// How much of a status text to show in `width` columns: all of it if it
// fits, else up to the last field boundary (two blanks, or a comma and a
// blank) that fits, so that no number is cut; a first field wider than the
// terminal is cut at the last blank, or at the width.
std::size_t Status_Cut(std::string_view text, std::size_t width);
// Takes the status line away (before a note, an error, the closing lines).
// Async-signal-safe.
void Console_Status_Clear();

// For the floating-point trap handler: closes the open line and writes out
// what is pending, using only async-signal-safe calls (nothing where the
// console is kept).
void Console_Close_From_Signal();

// For a caller that runs the solver inside its own process (a library):
// what the console would show, kept in memory instead. Output gets the bytes
// standard output would have had, Notes each note of standard error; no
// status line is drawn. A keep has a line state of its own (a line it left
// open stays open in it), and the console is kept per thread: runs kept on
// two threads at once write into their own keeps alone.
struct Console_Keep {
    std::string Output;
    std::vector<std::string> Notes;
    bool line_open = false, break_suppressed = true;
};

// Sends this thread's console to `keep` (nullptr: to standard output and
// standard error) and returns where it went before; what is pending for
// standard output goes out first.
Console_Keep* Console_Keep_In(Console_Keep* keep);

} // namespace textio
