#pragma once
// Line-oriented free-format reads, for the console and the parameter file.
// Every read starts at a fresh line, passes over empty and blank lines before
// its value, takes the first item of the line and ignores the rest of it; a
// read of no value consumes one line.
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace textio {

// A read that finds no valid number, or the end of the input.
struct Input_Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The part of a line that is kept; the rest of a longer line is passed over
// unread, so no input, however long its lines, takes more memory than this.
inline constexpr std::size_t Max_Line_Kept = std::size_t(4) << 20;

struct Line_Source {
    std::FILE* file;
    std::string name;      // "console" or the file name, for messages
    bool keyboard = false; // reads end the open console line
    int line_number = 0;   // of the last line read
    bool line_cut = false; // the last line was cut at Max_Line_Kept; its rest is unread
};

// The one source for standard input, shared by every console read.
Line_Source& Console_Source();
Line_Source Open_File_Source(const std::string& path); // throws Input_Error
void Close_Source(Line_Source& src);

// Reads the next line without its line end (LF, and a CR before it) and
// without a byte-order mark at the start of the first line; a line longer
// than Max_Line_Kept is cut there. Returns false at the end of the input.
// Throws Input_Error on a read error.
bool Next_Line(Line_Source& src, std::string& line, const char* what);

// The reads; `what` names the quantity for the error message.
std::int32_t Read_Integer(Line_Source& src, const char* what);
// The same, also giving the rest of the line after the integer.
std::int32_t Read_Integer(Line_Source& src, const char* what, std::string& rest);
// The first item of the rest of a line if it is an integer, else "": a
// second number a read passed over, for the hint of a later error.
std::string Integer_Passed_Over(const std::string& rest);
float Read_Real(Line_Source& src, const char* what);
// The same, also giving the item as written and the rest of its line (from
// the separator after the item on), for warnings on what a read passes over.
float Read_Real(Line_Source& src, const char* what, std::string& item, std::string& rest);
void Skip_Line(Line_Source& src, const char* what);

// Number syntax, exposed for tests and fuzzing: parse the whole of token.
enum class Parse_Status { Ok, Malformed, Out_Of_Range };
Parse_Status Parse_Integer(const std::string& token, std::int32_t& value);
Parse_Status Parse_Real(const std::string& token, float& value);

} // namespace textio
