// Fuzzes the text of reals: each four input bytes are a float, formatted,
// compared with the slow exact formatter, laid out in a record, and parsed
// back by the reader.
#include "support/slow_real_text.hpp"
#include "textio/line_reader.hpp"
#include "textio/real_text.hpp"
#include "textio/record.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void Check(bool ok, const char* what, float x, const std::string& text) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s: %a [%s]\n", what, double(x), text.c_str());
        std::abort();
    }
}

std::string Text(float x) {
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    int len = textio::Real_Text(x, buf);
    Check(len >= 8 && len <= textio::Real_Width, "length", x, std::string(buf, 32));
    Check(buf[len] == '#', "writes only its text", x, std::string(buf, 32));
    return std::string(buf, std::size_t(len));
}

void Check_One(float x) {
    std::string t = Text(x);
    Check(t == slow::Real_Text(x), "agrees with the slow formatter", x, t);
    // Read back: the nearest float to the seven digits, whose own text is
    // the same, or the same number in the other form (a carry across 1).
    float y = 0;
    Check(textio::Parse_Real(t, y) == textio::Parse_Status::Ok, "parses back", x, t);
    std::string u = Text(y);
    Check(u == t || std::strtod(u.c_str(), nullptr) == std::strtod(t.c_str(), nullptr),
          "parsed value has the same text", x, t + " " + u);
    // Seven significant digits, rounded: within half a unit of the 7th digit.
    double d = std::strtod(t.c_str(), nullptr), exact = double(x);
    if (exact != 0.0) {
        double unit = std::pow(10.0, std::floor(std::log10(std::fabs(d))) - 6);
        // An exact tie (8.0078125 -> 8.007813) lands on the bound itself, and
        // the text read back as a double carries its own rounding.
        Check(std::fabs(d - exact) <= 0.5 * unit * (1 + 1e-6), "rounded to 7 digits", x, t);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::size_t count = size / 4;
    if (count > 7)
        count = 7;
    std::string record;
    textio::Record rec(textio::File_Destination(record));
    std::string expected = " ";
    float batch[8] = {};
    for (std::size_t k = 0; k < count; ++k) {
        std::uint32_t bits;
        std::memcpy(&bits, data + 4 * k, 4);
        float x = std::bit_cast<float>(bits);
        if (!std::isfinite(x))
            x = std::bit_cast<float>(bits & 0xff7fffffu); // finite in a run
        Check_One(x);
        batch[k] = x;
        rec.real(x);
        // Four to a line; each right-aligned in its 16 columns.
        std::string t = Text(x);
        if (k == 4)
            expected += "\r\n";
        expected += std::string((k == 0 ? 15 : 16) - t.size(), ' ') + t;
    }
    rec.end();
    expected += "\r\n";
    // The same reals, eight at a time (zeros after them), slot by slot.
    char slots[8 * textio::Real_Slot_Width], one[textio::Real_Slot_Width];
    textio::Real_Slots(batch, 8, slots);
    for (int k = 0; k < 8; ++k) {
        textio::Real_Slot(batch[k], one);
        Check(std::memcmp(one, slots + textio::Real_Slot_Width * k, sizeof one) == 0,
              "slots eight at a time", batch[k], std::string(one, sizeof one));
    }
    Check(count == 0 || record == expected, "record layout", 0, record);
    // Integers: the plain decimal text.
    if (size >= 4) {
        std::int32_t v;
        std::memcpy(&v, data, 4);
        char buf[16];
        int len = textio::Integer_Text(v, buf);
        Check(std::string(buf, std::size_t(len)) == std::to_string(v), "integer text", 0,
              std::string(buf, std::size_t(len)));
    }
    return 0;
}
