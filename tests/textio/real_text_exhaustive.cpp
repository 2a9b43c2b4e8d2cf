// Every finite float, one by one (a few minutes; not part of the test run):
// - the 7 digits of the rounding half up at 17 digits and then half up at 7
//   equal the exact value rounded half up at 7 directly;
// - the form judged on the 17-digit exponent equals the form judged on the
//   exact value;
// - Real_Text and Real_Slot give the text laid out from the 17-then-7
//   digits, for x and for -x, and Real_Slots gives Real_Slot's bytes for
//   eight floats at a time.
// Build target real_text_exhaustive; prints counts and exits 1 on a mismatch.
#include "textio/real_text.hpp"

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Digits7 {
    std::uint64_t d7; // in [1e6, 1e7)
    int E7;
    bool fixed;
};

// Exact decimal digits of x > 0 by the standard library: a float has at most
// 112 significant digits, so 120 digits are exact.
Digits7 Direct7(float x, bool& tie) {
    char buf[160];
    auto r = std::to_chars(buf, buf + sizeof buf, double(x), std::chars_format::scientific, 120);
    // buf: d.ddd...de-XX with 120 decimals
    const char* e_pos = buf + 122;
    if (*e_pos != 'e' || e_pos[-1] != '0')
        std::abort(); // not the layout expected, or not exact
    int exp10 = 0;
    std::from_chars(e_pos + 1 + (e_pos[1] == '+'), r.ptr, exp10);
    std::uint64_t d7 = std::uint64_t(buf[0] - '0');
    for (int i = 2; i < 8; ++i)
        d7 = d7 * 10 + std::uint64_t(buf[i] - '0');
    char eighth = buf[8];
    tie = eighth == '5';
    for (const char* p = buf + 9; tie && p < e_pos; ++p)
        tie = *p == '0';
    int E = exp10 + 1;
    Digits7 out{d7 + (eighth >= '5' ? 1 : 0), E, E >= 1 && E <= 7};
    if (out.d7 == 10000000) {
        out.d7 = 1000000;
        ++out.E7;
    }
    return out;
}

Digits7 Via17(float x) {
    textio::Expansion ex = textio::Expand17(x);
    Digits7 out{(ex.Digits17 + 5000000000ULL) / 10000000000ULL, ex.E, ex.E >= 1 && ex.E <= 7};
    if (out.d7 == 10000000) {
        out.d7 = 1000000;
        ++out.E7;
    }
    return out;
}

std::string Layout(const Digits7& d) {
    char digits[8];
    std::uint64_t v = d.d7;
    for (int k = 6; k >= 0; --k, v /= 10)
        digits[k] = char('0' + v % 10);
    std::string s;
    if (d.fixed) {
        for (int k = 0; k < d.E7 + 6; ++k) {
            if (k == d.E7)
                s += '.';
            s += k < 7 ? digits[k] : '0';
        }
    } else {
        int x10 = d.E7 - 1 < 0 ? 1 - d.E7 : d.E7 - 1;
        s.assign(1, digits[0]);
        s += '.';
        s.append(digits + 1, 6);
        s += d.E7 - 1 < 0 ? "E-" : "E+";
        s += char('0' + x10 / 10);
        s += char('0' + x10 % 10);
    }
    return s;
}

} // namespace

int main(int argc, char** argv) {
    // Optional range of bit patterns, for a quicker partial run.
    std::uint32_t first = 1, last = 0x7f7fffffu;
    if (argc == 3) {
        first = std::uint32_t(std::strtoul(argv[1], nullptr, 0));
        last = std::uint32_t(std::strtoul(argv[2], nullptr, 0));
    }
    std::uint64_t checked = 0, ties = 0, bad = 0;
    for (std::uint32_t bits = first;; ++bits) {
        float x = std::bit_cast<float>(bits);
        bool tie = false;
        Digits7 direct = Direct7(x, tie), via = Via17(x);
        ties += tie ? 1 : 0;
        std::string want = Layout(via);
        char buf[32], slot[textio::Real_Slot_Width];
        int len = textio::Real_Text(x, buf);
        std::string got(buf, std::size_t(len));
        len = textio::Real_Text(-x, buf);
        std::string got_negative(buf, std::size_t(len));
        textio::Real_Slot(-x, slot);
        std::string want_slot = std::string(std::size_t(15 - int(want.size())), ' ') + "-" + want;
        bool ok = direct.d7 == via.d7 && direct.E7 == via.E7 && direct.fixed == via.fixed &&
                  got == want && got_negative == "-" + want &&
                  std::string(slot, sizeof slot) == want_slot;
        if (!ok && ++bad <= 20)
            std::printf("mismatch at %08x (%a): direct %llu E%d, via 17 %llu E%d, text %s, "
                        "want %s\n",
                        bits, double(x), static_cast<unsigned long long>(direct.d7), direct.E7,
                        static_cast<unsigned long long>(via.d7), via.E7, got.c_str(), want.c_str());
        // Eight at a time, x with -x, the batch ending at this float.
        static float batch[8];
        batch[bits % 4 * 2] = x;
        batch[bits % 4 * 2 + 1] = -x;
        if (bits % 4 == 3) {
            char slots[8 * textio::Real_Slot_Width];
            textio::Real_Slots(batch, 8, slots);
            for (int k = 0; k < 8; ++k) {
                textio::Real_Slot(batch[k], slot);
                if (std::string(slot, sizeof slot) !=
                        std::string(slots + textio::Real_Slot_Width * k, sizeof slot) &&
                    ++bad <= 20)
                    std::printf("slots differ at %a\n", double(batch[k]));
            }
        }
        ++checked;
        if ((bits & 0x0fffffffu) == 0)
            std::fprintf(stderr, "at %08x\n", bits);
        if (bits == last)
            break;
    }
    std::printf("%llu floats checked, %llu exact ties at the 8th digit, %llu mismatches\n",
                static_cast<unsigned long long>(checked), static_cast<unsigned long long>(ties),
                static_cast<unsigned long long>(bad));
    return bad == 0 ? 0 : 1;
}
