#pragma once
// An independent, slow formatter of single-precision reals: the exact
// decimal value by big-number digit arithmetic, rounded half up to 17
// digits, then half up to 7, then laid out. Tests compare the fast
// formatter with it.
#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace slow {

// Digits of a non-negative big integer, most significant first.
using Digits = std::vector<int>;

inline void Times(Digits& d, int factor) {
    int carry = 0;
    for (int k = int(d.size()) - 1; k >= 0; --k) {
        int v = d[k] * factor + carry;
        d[k] = v % 10;
        carry = v / 10;
    }
    while (carry > 0) {
        d.insert(d.begin(), carry % 10);
        carry /= 10;
    }
}

// Rounds the digit string half up to `keep` digits; returns true on a carry
// out of the first digit (the digits are then 1 followed by zeros).
inline bool Round_Half_Up(Digits& d, std::size_t keep) {
    if (d.size() <= keep) {
        d.resize(keep, 0);
        return false;
    }
    bool up = d[keep] >= 5;
    d.resize(keep);
    if (!up)
        return false;
    for (int k = int(keep) - 1; k >= 0; --k) {
        if (++d[k] < 10)
            return false;
        d[k] = 0;
    }
    d.assign(keep, 0);
    d[0] = 1;
    return true;
}

inline std::string Real_Text(float x) {
    std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
    bool negative = bits >> 31;
    std::uint32_t biased = (bits >> 23) & 0xff;
    std::uint64_t M = bits & 0x7fffff;
    int e = -149;
    if (biased != 0) {
        M |= 0x800000;
        e = int(biased) - 150;
    }
    if (M == 0)
        return "0.000000E+00";
    Digits d;
    for (char c : std::to_string(M))
        d.push_back(c - '0');
    int E;
    if (e >= 0) {
        for (int k = 0; k < e; ++k)
            Times(d, 2);
        E = int(d.size());
    } else {
        for (int k = 0; k < -e; ++k)
            Times(d, 5);
        E = int(d.size()) + e; // value = d * 10^e
    }
    while (d.size() > 1 && d.back() == 0)
        d.pop_back();
    if (Round_Half_Up(d, 17))
        ++E;
    bool fixed = E >= 1 && E <= 7;
    int E7 = E;
    if (Round_Half_Up(d, 7))
        ++E7;
    std::string out = negative ? "-" : "";
    if (fixed) {
        for (int k = 0; k < E7; ++k)
            out += char('0' + (k < 7 ? d[k] : 0));
        out += '.';
        for (int k = E7; k < E7 + 6; ++k)
            out += char('0' + (k < 7 ? d[k] : 0));
    } else {
        out += char('0' + d[0]);
        out += '.';
        for (int k = 1; k < 7; ++k)
            out += char('0' + d[k]);
        int x10 = E7 - 1;
        out += x10 < 0 ? "E-" : "E+";
        if (x10 < 0)
            x10 = -x10;
        if (x10 < 10)
            out += '0';
        out += std::to_string(x10);
    }
    return out;
}

} // namespace slow
