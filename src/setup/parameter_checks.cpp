#include "setup/initialize.hpp"
#include "setup/parameters.hpp"
#include "setup/setup_errors.hpp"
#include "textio/line_reader.hpp"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

std::string Figure(double x, const char* format = "%g") {
    char text[48];
    std::snprintf(text, sizeof text, format, x);
    return text;
}

// "Ra (Input_Parameters.Input line 4) = 1e4", with the value as written.
std::string Named(const char* name, const Value_Line& where, float value) {
    std::string s = name;
    if (where.line > 0)
        s += " (" + std::string(Parameter_File_Name) + " line " + std::to_string(where.line) + ")";
    return s + " = " + (where.item.empty() ? Figure(value) : where.item);
}

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The next item of `rest` from position p on, if it is a number.
bool Number_At(const std::string& rest, std::size_t p, std::string& item) {
    while (p < rest.size() && Blank(rest[p]))
        ++p;
    std::size_t q = p;
    while (q < rest.size() && !Blank(rest[q]) && rest[q] != ',')
        ++q;
    item = rest.substr(p, q - p);
    float ignored;
    return !item.empty() && textio::Parse_Real(item, ignored) == textio::Parse_Status::Ok;
}

bool Digits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

// Commas and digits right after the value ("0,71", "1,000,000"): the value as
// written, and what to write instead. False where none follow it.
bool Comma_Number(const Value_Line& v, std::string& written, std::string& remedy) {
    std::vector<std::string> groups;
    std::size_t p = 0;
    while (p + 1 < v.rest.size() && v.rest[p] == ',' && Digits(v.rest.substr(p + 1, 1))) {
        std::size_t q = p + 1;
        while (q < v.rest.size() && Digits(v.rest.substr(q, 1)))
            ++q;
        groups.push_back(v.rest.substr(p + 1, q - p - 1));
        p = q;
    }
    if (groups.empty())
        return false;
    written = v.item;
    std::string joined = v.item;
    for (const std::string& g : groups) {
        written += "," + g;
        joined += g;
    }
    const std::string decimal = v.item + "." + groups[0];
    if (groups.size() > 1)
        remedy = "write it without commas, " + joined;
    else if (groups[0].size() == 3 && Digits(v.item))
        remedy = "write " + decimal + " with a decimal point, or " + joined +
                 " if the comma separates thousands";
    else
        remedy = "write a decimal point, " + decimal;
    return true;
}

std::string Comma_Remedy(const Value_Line& v) {
    std::string written, remedy;
    if (!Comma_Number(v, written, remedy))
        return "";
    return "; a comma ends a number, so \"" + written + "\" was read as " + v.item + ": " + remedy;
}

// What a message shows of the rest of a line.
std::string Shown_Rest(const std::string& rest) {
    const std::size_t p = rest.find_first_not_of(" \t\r");
    std::string s = rest.substr(p, 40);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == 0x7f)
            c = ' ';
    return s + (rest.size() - p > 40 ? "..." : "");
}

[[noreturn]] void Refuse(const char* name, const Value_Line& where, float value,
                         const std::string& why) {
    throw Parameter_Error("parameter error: " + Named(name, where, value) + ": " + why +
                          Comma_Remedy(where));
}

} // namespace

void Check_Parameters(const Physical_Parameters& p, const Parameter_Lines& lines) {
    if (!(p.Pr > 0.0f))
        Refuse("Pr", lines.Pr, p.Pr,
               "the Prandtl number must be positive (the viscosity is Pr times the diffusivity)");
    if (!(p.Ra > 0.0f))
        Refuse("Ra", lines.Ra, p.Ra, "the Rayleigh number must be positive");
    if (p.T_Hot == p.T_Cold)
        throw Parameter_Error(
            "parameter error: " + Named("T_Hot", lines.T_Hot, p.T_Hot) + " and " +
            Named("T_Cold", lines.T_Cold, p.T_Cold) +
            " are the same temperature: the walls must differ for a buoyancy force (its "
            "coefficient divides by T_Hot - T_Cold)" +
            Comma_Remedy(lines.T_Hot) + Comma_Remedy(lines.T_Cold));
    if (!(p.Tau_T > 0.5f))
        Refuse("Tau_T", lines.Tau_T, p.Tau_T,
               "Tau_T must be above 0.5, for the thermal diffusivity (Tau_T - 0.5)/3 to be "
               "positive (0.55 to 1 is usual)");
}

std::vector<std::string> Reading_Warnings(const Parameter_Lines& lines) {
    std::vector<std::string> out;
    const std::pair<const char*, const Value_Line*> values[] = {
        {"Pr", &lines.Pr},         {"Ra", &lines.Ra},         {"T_Hot", &lines.T_Hot},
        {"T_Cold", &lines.T_Cold}, {"T_Init", &lines.T_Init}, {"Tau_T", &lines.Tau_T}};
    for (const auto& [name, v] : values) {
        const std::string where = std::string(name) + " (" + Parameter_File_Name + " line " +
                                  std::to_string(v->line) + ")";
        std::string written, remedy, next;
        if (Comma_Number(*v, written, remedy))
            out.push_back("warning: " + where + ": a comma ends a number, so \"" + written +
                          "\" is read as " + v->item + " and the rest of the line is ignored; " +
                          remedy);
        else if (Number_At(v->rest, 0, next))
            out.push_back("warning: " + where + ": the value is " + v->item +
                          ", the first number of the line; the rest of the line, \"" +
                          Shown_Rest(v->rest) +
                          "\", is ignored (a number is written without blanks)");
    }
    return out;
}

namespace {

// The lattice sound speed, and the share of it above which U_Ref is warned:
// measured on runs from Ra 1e4 to 1e6 and Pr 0.71 to 6.2, against a low U_Ref
// the mean Nu moved by up to 0.35 % at 0.2 of the sound speed and 0.6 % at
// 0.3; no run up to 0.5 went unstable. Above 0.25 the error passes about
// half a percent.
const double Sound_Speed = 1.0 / std::sqrt(3.0);
constexpr double U_Ref_Share_Warned = 0.25;
constexpr float Tau_F_Warned = 0.51f;

// "0.29", "7.3", "72", "144", "1.8e+13": a multiple of the sound speed.
std::string Times_Sound(double U_Ref) {
    const double times = U_Ref / Sound_Speed;
    return Figure(times, times >= 100.0 && times < 1e6 ? "%.0f" : "%.2g");
}

// U_Ref = sqrt(Ra Pr) (Tau_T - 0.5) / (3 m): the Tau_T that gives the limit.
double Tau_T_For_U_Ref_Limit(const Physical_Parameters& p, int m) {
    return 0.5 + 3.0 * U_Ref_Share_Warned * Sound_Speed * m / std::sqrt(double(p.Ra) * p.Pr);
}

// Tau_F = 0.5 + Pr (Tau_T - 0.5): the Tau_T that gives the limit.
double Tau_T_For_Tau_F_Limit(const Physical_Parameters& p) {
    return 0.5 + 0.01 / p.Pr;
}

std::string Tau_T_Down(double tau) {
    return Figure(std::floor(tau * 1e4) / 1e4, "%.4f");
}

std::string Tau_T_Up(double tau) {
    return Figure(std::ceil(tau * 1e4) / 1e4, "%.4f");
}

} // namespace

std::vector<std::string> Stability_Warnings(const Physical_Parameters& p,
                                            const Derived_Constants& d, int m) {
    std::vector<std::string> out;
    if (d.U_Ref > U_Ref_Share_Warned * Sound_Speed) {
        const double tau = Tau_T_For_U_Ref_Limit(p, m);
        out.push_back("warning: the reference velocity U_Ref = " + Figure(d.U_Ref, "%.3g") +
                      " is " + Times_Sound(d.U_Ref) +
                      " times the lattice sound speed 0.577, above 0.25 times it, where the "
                      "compressibility error moves the mean Nusselt number by about 0.5 % "
                      "(measured: 0.35 % at 0.2, 0.6 % at 0.3) and grows with the square of "
                      "U_Ref; a larger m or a smaller Tau_T lowers it " +
                      (tau >= 0.5001 ? "(Tau_T " + Tau_T_Down(tau) + " or less on this grid)"
                                     : "(no Tau_T above 0.5 on this grid)"));
    }
    if (d.Tau_F < Tau_F_Warned)
        out.push_back("warning: the flow relaxation time Tau_F = " + Figure(d.Tau_F, "%.4g") +
                      " (from Pr = " + Figure(p.Pr) + " and Tau_T = " + Figure(p.Tau_T) +
                      ") is below 0.51: the flow step may be unstable; a larger Tau_T raises it "
                      "(Tau_T " +
                      Tau_T_Up(Tau_T_For_Tau_F_Limit(p)) + " or more)");
    return out;
}

namespace {

constexpr int Largest_M = 1290; // the largest m the program takes (m cubed in 32 bits)

// What keeps both U_Ref below its limit and Tau_F at its limit or above: a
// range of Tau_T on this grid, or a finer grid. U_Ref goes as (Tau_T - 0.5)
// / m, so the smallest Tau_T that Tau_F allows needs the coarsest grid.
std::string Stable_Remedy(const Physical_Parameters& p, const Derived_Constants& d, int m) {
    const double low = std::ceil(Tau_T_For_Tau_F_Limit(p) * 1e4) / 1e4,
                 high = std::floor(Tau_T_For_U_Ref_Limit(p, m) * 1e4) / 1e4,
                 over = d.U_Ref / (U_Ref_Share_Warned * Sound_Speed);
    auto finer = [&](double tau) { return std::ceil(m * over * (tau - 0.5) / (p.Tau_T - 0.5)); };
    std::vector<std::string> ways;
    if (low <= high)
        ways.push_back("Tau_T from " + Figure(low, "%.4f") + " to " + Figure(high, "%.4f") +
                       " on this grid");
    if (over > 1.0 && p.Tau_T >= low && finer(p.Tau_T) <= Largest_M)
        ways.push_back("m = " + Figure(finer(p.Tau_T), "%.0f") + " or more at this Tau_T");
    else if (over > 1.0 && finer(low) <= Largest_M)
        ways.push_back("m = " + Figure(std::max(finer(low), double(m)), "%.0f") +
                       " or more with Tau_T = " + Figure(low, "%.4f"));
    const std::string aim = "U_Ref below 0.25 times the sound speed and Tau_F at 0.51 or more";
    if (ways.empty())
        return "no grid the program takes (m up to " + std::to_string(Largest_M) + ") keeps " +
               aim + " at this Ra and Pr; a smaller Ra does";
    return (ways.size() == 1 ? ways[0] : ways[0] + ", or " + ways[1] + ",") + " keeps " + aim;
}

} // namespace

std::string Blow_Up_Cause(const Physical_Parameters& p, const Derived_Constants& d, int n, int m) {
    if (n < 2 || m < 2) // no fluid, no flow warnings
        return "";
    const bool fast = d.U_Ref > U_Ref_Share_Warned * Sound_Speed, thin = d.Tau_F < Tau_F_Warned;
    if (!fast && !thin)
        return "";
    const std::string u_ref = "U_Ref = " + Figure(d.U_Ref, "%.3g") + " (" + Times_Sound(d.U_Ref) +
                              " times the lattice sound speed",
                      tau_f = "Tau_F = " + Figure(d.Tau_F, "%.4g") + " (below 0.51";
    return "the flow has blown up, as " +
           (fast && thin ? u_ref + ") and " + tau_f + "), both warned above,"
                         : (fast ? u_ref : tau_f) + ", warned above)") +
           " let it; " + Stable_Remedy(p, d, m);
}
