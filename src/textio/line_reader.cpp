#include "textio/line_reader.hpp"

#include "textio/console.hpp"

#include <cerrno>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace textio {
namespace {

bool Is_Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}
bool Is_Separator(char c) {
    return c == ' ' || c == '\t' || c == ',' || c == '\r';
}
bool Is_Digit(char c) {
    return c >= '0' && c <= '9';
}

// The token as it may be shown in a message: printable, and not too long.
std::string Shown(const std::string& token) {
    std::string out = "\"";
    std::size_t shown = 0;
    for (unsigned char c : token) {
        if (shown == 40) {
            out += "...";
            break;
        }
        if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\') {
            out += char(c);
        } else {
            static const char hex[] = "0123456789abcdef";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        ++shown;
    }
    return out + "\"";
}

std::string Where(const Line_Source& src, const char* what) {
    return std::string(what) + " (" + src.name + " line " + std::to_string(src.line_number) + ")";
}

[[noreturn]] void End_Of_Input(const Line_Source& src, const char* what) {
    std::string msg = "input error: " + std::string(what) + " (" + src.name + "): ";
    if (src.keyboard)
        msg += "end of input";
    else if (src.line_number == 0)
        msg += "the file is empty";
    else
        msg += "end of file after line " + std::to_string(src.line_number);
    throw Input_Error(msg);
}

// Passes over blank lines and returns the first item of the next line that
// holds one; `rest` gets what follows it on that line.
std::string Next_Token(Line_Source& src, const char* what, std::string* rest = nullptr) {
    std::string line;
    for (;;) {
        if (!Next_Line(src, line, what))
            End_Of_Input(src, what);
        std::size_t p = 0;
        while (p < line.size() && Is_Blank(line[p]))
            ++p;
        if (p == line.size() && src.line_cut)
            throw Input_Error("input error: " + Where(src, what) + ": no item in the first " +
                              std::to_string(Max_Line_Kept) + " characters of the line");
        if (p == line.size())
            continue;
        std::size_t q = p;
        while (q < line.size() && !Is_Separator(line[q]))
            ++q;
        if (q == p)
            throw Input_Error("input error: " + Where(src, what) + ": no number before " +
                              Shown(line.substr(p, 1)));
        if (q == line.size() && src.line_cut)
            throw Input_Error("input error: " + Where(src, what) + ": the item " +
                              Shown(line.substr(p, q - p)) + " is longer than " +
                              std::to_string(Max_Line_Kept - p) + " characters");
        if (rest)
            *rest = line.substr(q);
        return line.substr(p, q - p);
    }
}

} // namespace

Line_Source& Console_Source() {
    static Line_Source src{stdin, "console", true};
    return src;
}

Line_Source Open_File_Source(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f)
        throw Input_Error("input error: cannot open " + path + ": " + std::strerror(errno));
    return Line_Source{f, path};
}

void Close_Source(Line_Source& src) {
    if (src.file && src.file != stdin)
        std::fclose(src.file);
    src.file = nullptr;
}

namespace {

[[noreturn]] void Read_Failed(const Line_Source& src, const char* what, int err) {
    throw Input_Error("input error: " + std::string(what) + " (" + src.name +
                      "): cannot read: " + std::strerror(err));
}

} // namespace

bool Next_Line(Line_Source& src, std::string& line, const char* what) {
    if (src.keyboard)
        Console_Flush();
    std::FILE* f = src.file;
    errno = 0;
    int c = 0;
    if (src.line_cut) { // pass over the rest of the previous line
        while ((c = getc_unlocked(f)) != EOF && c != '\n') {
        }
        src.line_cut = false;
        if (std::ferror(f))
            Read_Failed(src, what, errno);
    }
    line.clear();
    bool any = false;
    while ((c = getc_unlocked(f)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        if (line.size() == Max_Line_Kept) {
            src.line_cut = true;
            break;
        }
        line.push_back(char(c));
    }
    if (std::ferror(f))
        Read_Failed(src, what, errno);
    if (!any)
        return false;
    ++src.line_number;
    if (src.keyboard)
        Console_Keyboard_Read();
    if (!src.line_cut && !line.empty() && line.back() == '\r')
        line.pop_back();
    // A byte-order mark that an editor put at the start of a file.
    if (src.line_number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
        line.erase(0, 3);
    return true;
}

Parse_Status Parse_Integer(const std::string& token, std::int32_t& value) {
    std::size_t p = 0;
    bool negative = false;
    if (p < token.size() && (token[p] == '+' || token[p] == '-'))
        negative = token[p++] == '-';
    if (p == token.size())
        return Parse_Status::Malformed;
    std::int64_t v = 0;
    bool too_big = false;
    for (; p < token.size(); ++p) {
        if (!Is_Digit(token[p]))
            return Parse_Status::Malformed;
        if (!too_big) {
            v = v * 10 + (token[p] - '0');
            too_big = v > 2147483648LL;
        }
    }
    if (negative)
        v = -v;
    if (too_big || v > 2147483647LL || v < -2147483648LL)
        return Parse_Status::Out_Of_Range;
    value = std::int32_t(v);
    return Parse_Status::Ok;
}

Parse_Status Parse_Real(const std::string& token, float& value) {
    // [sign] digits [. [digits]] | [sign] . digits, then [eEdD [sign] digits]
    std::string norm;
    norm.reserve(token.size());
    std::size_t p = 0;
    if (p < token.size() && (token[p] == '+' || token[p] == '-')) {
        if (token[p] == '-')
            norm += '-';
        ++p;
    }
    std::size_t mantissa_digits = 0;
    while (p < token.size() && Is_Digit(token[p])) {
        norm += token[p++];
        ++mantissa_digits;
    }
    if (p < token.size() && token[p] == '.') {
        norm += token[p++];
        while (p < token.size() && Is_Digit(token[p])) {
            norm += token[p++];
            ++mantissa_digits;
        }
    }
    if (mantissa_digits == 0)
        return Parse_Status::Malformed;
    if (p < token.size() &&
        (token[p] == 'e' || token[p] == 'E' || token[p] == 'd' || token[p] == 'D')) {
        norm += 'e';
        ++p;
        if (p < token.size() && (token[p] == '+' || token[p] == '-'))
            norm += token[p++];
        std::size_t exp_digits = 0;
        while (p < token.size() && Is_Digit(token[p])) {
            norm += token[p++];
            ++exp_digits;
        }
        if (exp_digits == 0)
            return Parse_Status::Malformed;
    }
    if (p != token.size())
        return Parse_Status::Malformed;
    // The library raises overflow and underflow on purpose for values out of
    // range; those are input errors here, not arithmetic faults of the run.
    std::fenv_t env;
    std::feholdexcept(&env);
    float v = std::strtof(norm.c_str(), nullptr);
    std::fesetenv(&env);
    if (std::isinf(v))
        return Parse_Status::Out_Of_Range;
    value = v;
    return Parse_Status::Ok;
}

std::int32_t Read_Integer(Line_Source& src, const char* what) {
    std::string rest;
    return Read_Integer(src, what, rest);
}

std::string Integer_Passed_Over(const std::string& rest) {
    std::size_t p = 0;
    while (p < rest.size() && Is_Separator(rest[p]))
        ++p;
    std::size_t q = p;
    while (q < rest.size() && !Is_Separator(rest[q]))
        ++q;
    std::int32_t v = 0;
    const std::string item = rest.substr(p, q - p);
    return Parse_Integer(item, v) == Parse_Status::Ok ? item : "";
}

std::int32_t Read_Integer(Line_Source& src, const char* what, std::string& rest) {
    std::string token = Next_Token(src, what, &rest);
    std::int32_t v = 0;
    switch (Parse_Integer(token, v)) {
    case Parse_Status::Ok:
        return v;
    case Parse_Status::Out_Of_Range:
        throw Input_Error("input error: " + Where(src, what) + ": " + Shown(token) +
                          " is outside the 32-bit integer range");
    case Parse_Status::Malformed:
        break;
    }
    throw Input_Error("input error: " + Where(src, what) + ": " + Shown(token) +
                      " is not an integer");
}

float Read_Real(Line_Source& src, const char* what) {
    std::string item, rest;
    return Read_Real(src, what, item, rest);
}

float Read_Real(Line_Source& src, const char* what, std::string& item, std::string& rest) {
    std::string token = Next_Token(src, what, &rest);
    item = token;
    float v = 0;
    switch (Parse_Real(token, v)) {
    case Parse_Status::Ok:
        return v;
    case Parse_Status::Out_Of_Range:
        throw Input_Error("input error: " + Where(src, what) + ": " + Shown(token) +
                          " is outside the single-precision range");
    case Parse_Status::Malformed:
        break;
    }
    throw Input_Error("input error: " + Where(src, what) + ": " + Shown(token) +
                      " is not a number");
}

void Skip_Line(Line_Source& src, const char* what) {
    std::string line;
    if (!Next_Line(src, line, what))
        End_Of_Input(src, what);
}

} // namespace textio
