#pragma once
// Tells whether the bytes of a result file are one complete snapshot: the
// headers, the exact size of the fixed layout, and every record a row of
// well-formed reals with the coordinates of its node.
#include <cmath>
#include <cstdlib>
#include <string>

namespace program {

namespace check {

// A real item as the record writer lays it out: "-d.ddddddE+dd" or
// "-ddd.dddddd" (one to seven digits before the point).
inline bool Is_Real_Text(const std::string& t) {
    std::size_t p = 0;
    if (p < t.size() && t[p] == '-')
        ++p;
    auto digits = [&](std::size_t count_min, std::size_t count_max) {
        std::size_t k = 0;
        while (p < t.size() && t[p] >= '0' && t[p] <= '9' && k < count_max)
            ++p, ++k;
        return k >= count_min;
    };
    std::size_t start = p;
    if (!digits(1, 7))
        return false;
    std::size_t int_digits = p - start;
    if (p == t.size() || t[p++] != '.' || !digits(6, 6))
        return false;
    if (p == t.size())
        return true; // fixed form
    if (int_digits != 1 || t[p++] != 'E' || p == t.size() || (t[p] != '+' && t[p] != '-'))
        return false;
    ++p;
    return digits(2, 3) && p == t.size();
}

// Parses one 16-column slot (a blank and a 15-column field); false if it is
// not a right-aligned real.
inline bool Slot(const std::string& line, std::size_t k, float& value) {
    std::string slot = line.substr(16 * k, 16);
    std::size_t p = slot.find_first_not_of(' ');
    if (slot.size() != 16 || p == 0 || p == std::string::npos)
        return false;
    std::string text = slot.substr(p);
    if (!Is_Real_Text(text))
        return false;
    char* end = nullptr;
    value = std::strtof(text.c_str(), &end);
    return *end == '\0' && std::isfinite(value);
}

inline bool Near(float value, double exact) {
    return std::fabs(value - exact) <= 1e-6 * std::fmax(1.0, std::fabs(exact));
}

inline std::string Integer_Field(int v) {
    std::string t = std::to_string(v);
    return std::string(11 - t.size(), ' ') + t;
}

// Splits off the next CR LF line of exactly `length` characters.
inline bool Line(const std::string& bytes, std::size_t& pos, std::size_t length,
                 std::string& line) {
    if (pos + length + 2 > bytes.size() || bytes.compare(pos + length, 2, "\r\n") != 0)
        return false;
    line = bytes.substr(pos, length);
    pos += length + 2;
    return true;
}

} // namespace check

// "" if `bytes` is a complete snapshot of the result file `name` of an n x m
// run, otherwise what is wrong with it.
inline std::string Snapshot_Fault(const std::string& name, const std::string& bytes, int n, int m) {
    using namespace check;
    const std::size_t nodes = std::size_t(n + 1) * std::size_t(m + 1);
    std::size_t pos = 0;
    std::string line;
    float a = 0, b = 0;
    if (name == "Nu.dat") {
        if (bytes.size() != 18)
            return "size " + std::to_string(bytes.size()) + ", not 18";
        return Line(bytes, pos, 16, line) && Slot(line, 0, a) ? "" : "bad record";
    }
    if (name == "Result.dat") {
        std::size_t want = 32 + 34 + 116 * nodes;
        if (bytes.size() != want)
            return "size " + std::to_string(bytes.size()) + ", not " + std::to_string(want);
        std::string zone = " ZONE I=" + Integer_Field(n + 1) + "J=" + Integer_Field(m + 1);
        if (!Line(bytes, pos, 30, line) || line != " VARIABLES =X,Y,U,V,P,T,Stream" ||
            !Line(bytes, pos, 32, line) || line != zone)
            return "bad header";
        for (int j = 0; j <= m; ++j) {
            for (int i = 0; i <= n; ++i) {
                std::string where =
                    " at node (" + std::to_string(i) + ", " + std::to_string(j) + ")";
                if (!Line(bytes, pos, 64, line))
                    return "bad first line" + where;
                float x = 0, y = 0, v = 0;
                if (!Slot(line, 0, x) || !Slot(line, 1, y) || !Slot(line, 2, v) ||
                    !Slot(line, 3, v))
                    return "bad real on the first line" + where;
                if (!Near(x, double(i) / m) || !Near(y, double(j) / m))
                    return "wrong coordinates" + where;
                if (!Line(bytes, pos, 48, line) || !Slot(line, 0, v) || !Slot(line, 1, v) ||
                    !Slot(line, 2, v))
                    return "bad second line" + where;
            }
        }
        return "";
    }
    std::string header;
    int records = 0;
    bool along_x = true;
    if (name == "V_Velocity_MidLine.dat") {
        header = " VARIABLES =X,V", records = n + 1;
    } else if (name == "TEMPERATURE_MidLine.dat") {
        header = " VARIABLES =X,T", records = n + 1;
    } else if (name == "U_Velocity_Vertical_MidLine.dat") {
        header = " VARIABLES =U,Y", records = m + 1, along_x = false;
    } else {
        return "not a result file";
    }
    std::size_t want = 17 + 34 * std::size_t(records);
    if (bytes.size() != want)
        return "size " + std::to_string(bytes.size()) + ", not " + std::to_string(want);
    if (!Line(bytes, pos, 15, line) || line != header)
        return "bad header";
    for (int r = 0; r < records; ++r) {
        if (!Line(bytes, pos, 32, line) || !Slot(line, 0, a) || !Slot(line, 1, b))
            return "bad record " + std::to_string(r);
        bool placed = along_x ? Near(a, double(r) / n) : Near(b, double(r) / m);
        if (!placed)
            return "wrong coordinate in record " + std::to_string(r);
    }
    return "";
}

} // namespace program
