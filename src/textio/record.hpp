#pragma once
// The record writer: every line the program writes, on the console or in a
// result file, is one record of text, integer and real items laid out in
// fixed-width fields on lines of at most 79 columns.
#include <cstdint>
#include <string>
#include <string_view>

namespace textio {

// Where the lines of a record go.
struct Destination {
    enum class Kind { Console, File };
    Kind kind;
    std::string* file_text; // File: lines are appended here, each ended by CR LF
};

inline Destination Console_Destination() {
    return {Destination::Kind::Console, nullptr};
}
inline Destination File_Destination(std::string& text) {
    return {Destination::Kind::File, &text};
}

class Record {
  public:
    explicit Record(Destination dest) : dest_(dest) {}
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    Record& text(std::string_view s);
    Record& integer(std::int32_t v);
    Record& real(float x);
    void end();

  private:
    static constexpr int Line_Budget = 79;
    // A line holds at most 80 characters (a text that exactly fills the budget).
    static constexpr int Line_Capacity = 96;

    void numeric(const char* digits, int len, int width);
    void put(const char* s, int len);
    void blanks(int count);
    void end_line();

    Destination dest_;
    char line_[Line_Capacity];
    int used_ = 0;
    int budget_ = Line_Budget;
    int pending_ = 1;
    bool prev_numeric_ = false;
};

} // namespace textio
