// Fuzzes the line reader and the number parser. The input is read as a
// parameter file and as console answers; each item of it is parsed and
// checked against the library's own number conversion. Reads run with the
// floating-point traps of a real run enabled.
#include "textio/line_reader.hpp"

#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool ok, const char* what, const std::string& detail) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s: [%s]\n", what, detail.c_str());
        std::abort();
    }
}

struct Traps {
    Traps() { feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW); }
    ~Traps() {
        fedisableexcept(FE_ALL_EXCEPT);
        std::feclearexcept(FE_ALL_EXCEPT);
    }
};

// Messages are one line of printable text of bounded length.
void Check_Message(const textio::Input_Error& e) {
    std::string m = e.what();
    Check(m.rfind("input error: ", 0) == 0, "message head", m);
    Check(m.size() < 400, "message length", m);
    for (unsigned char c : m)
        Check(c >= 0x20 && c < 0x7f, "printable message", m);
}

textio::Line_Source Source_Over(std::string& bytes) {
    std::FILE* f =
        bytes.empty() ? std::fopen("/dev/null", "rb") : fmemopen(bytes.data(), bytes.size(), "rb");
    return textio::Line_Source{f, "fuzz"};
}

// The parameter file: a label, a value, six times.
void Read_As_Parameter_File(std::string bytes) {
    textio::Line_Source src = Source_Over(bytes);
    try {
        Traps traps;
        for (int k = 0; k < 6; ++k) {
            int before = src.line_number;
            textio::Skip_Line(src, "label");
            Check(src.line_number == before + 1, "a label is one line", bytes);
            float v = textio::Read_Real(src, "value");
            Check(std::isfinite(v), "finite value", bytes);
        }
    } catch (const textio::Input_Error& e) {
        Check_Message(e);
    }
    textio::Close_Source(src);
}

// Console answers: integers until the input ends or is bad.
void Read_As_Console(std::string bytes) {
    textio::Line_Source src = Source_Over(bytes);
    try {
        Traps traps;
        for (int k = 0; k < 64; ++k) {
            int before = src.line_number;
            textio::Read_Integer(src, "n");
            Check(src.line_number > before, "a read takes a line", bytes);
        }
    } catch (const textio::Input_Error& e) {
        Check_Message(e);
    }
    textio::Close_Source(src);
}

bool Digits(const std::string& s, std::size_t& p) {
    std::size_t start = p;
    while (p < s.size() && s[p] >= '0' && s[p] <= '9')
        ++p;
    return p > start;
}

// The number forms the reader takes, written out independently:
// [sign] (digits [. digits*] | . digits) [(e|E|d|D) [sign] digits].
bool Is_Real_Form(const std::string& s) {
    std::size_t p = 0;
    if (p < s.size() && (s[p] == '+' || s[p] == '-'))
        ++p;
    bool lead = Digits(s, p), frac = false;
    if (p < s.size() && s[p] == '.') {
        ++p;
        frac = Digits(s, p);
    }
    if (!lead && !frac)
        return false;
    if (p < s.size() && std::strchr("eEdD", s[p]) && s[p] != '\0') {
        ++p;
        if (p < s.size() && (s[p] == '+' || s[p] == '-'))
            ++p;
        if (!Digits(s, p))
            return false;
    }
    return p == s.size();
}

void Check_Integer(const std::string& token) {
    std::int32_t got = 0;
    textio::Parse_Status st = textio::Parse_Integer(token, got);
    std::size_t p = token[0] == '+' || token[0] == '-' ? 1 : 0;
    bool form = Digits(token, p) && p == token.size();
    std::string body = token[0] == '+' ? token.substr(1) : token;
    if (!form) {
        Check(st == textio::Parse_Status::Malformed, "integer form", token);
        return;
    }
    std::int32_t want = 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), want);
    if (r.ec == std::errc::result_out_of_range) {
        Check(st == textio::Parse_Status::Out_Of_Range, "integer range", token);
    } else {
        Check(st == textio::Parse_Status::Ok && got == want, "integer value", token);
    }
}

void Check_Real(const std::string& token) {
    float got = 0;
    textio::Parse_Status st;
    {
        Traps traps;
        st = textio::Parse_Real(token, got);
    }
    if (!Is_Real_Form(token)) {
        Check(st == textio::Parse_Status::Malformed, "real form", token);
        return;
    }
    std::string body = token[0] == '+' ? token.substr(1) : token;
    for (char& c : body)
        if (c == 'd' || c == 'D')
            c = 'e';
    float want = 0;
    auto r = std::from_chars(body.data(), body.data() + body.size(), want);
    Check(r.ptr == body.data() + body.size(), "the library takes the whole item", token);
    if (r.ec == std::errc()) {
        Check(st == textio::Parse_Status::Ok && std::memcmp(&got, &want, sizeof got) == 0,
              "real value", token);
        return;
    }
    // Out of range for the library: too large is an error for the reader,
    // too small rounds to zero or a denormal.
    double magnitude = std::fabs(std::strtod(body.c_str(), nullptr));
    if (magnitude >= 1.0)
        Check(st == textio::Parse_Status::Out_Of_Range, "real too large", token);
    else
        Check(st == textio::Parse_Status::Ok && std::fabs(got) < 1.2e-38f, "real too small", token);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    Read_As_Parameter_File(bytes);
    Read_As_Console(bytes);
    // Every item between separators, as the reader would cut it.
    std::size_t p = 0;
    while (p < bytes.size()) {
        std::size_t q = bytes.find_first_of(" \t,\r\n", p);
        if (q == std::string::npos)
            q = bytes.size();
        if (q > p) {
            std::string token = bytes.substr(p, q - p);
            Check_Integer(token);
            Check_Real(token);
        }
        p = q + 1;
    }
    return 0;
}
