#pragma once
// The console: standard output as the record writer sees it. The first
// character of each record line is carriage control and is not shown; the
// line break goes in front of a line, so a line stays open until the next
// line, a keyboard read or the end of the program.
#include <cstddef>
#include <string_view>

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

// For the floating-point trap handler: closes the open line and writes out
// what is pending, using only async-signal-safe calls.
void Console_Close_From_Signal();

} // namespace textio
