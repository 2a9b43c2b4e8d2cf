#pragma once
// The scheme of a run: the rule of the insulated walls and the collision of
// each distribution. The default is the program's original scheme; a run
// keeps one scheme from its start to its end, and its checkpoint records it.
#include <cstdint>

// How the insulated bottom and top walls treat the temperature.
enum class Insulated_Walls {
    // The rows 0 and m collide as fluid and, after streaming, copy their
    // up- (bottom) and down-going (top) directions from the row next to
    // them: the zero-flux plane then lies Tau_T spacings outside the flow's
    // wall, a still, conducting layer beside the cavity.
    Copy,
    // The rows 0 and m are wall nodes that do not collide; they send back
    // what arrives (bounce-back), which puts the zero-flux plane half a
    // spacing inside them, where the flow's wall is. Their temperature is
    // that of the row next to them, the field mirrored at the wall.
    Bounce_Back,
};

// The collision of a distribution.
enum class Relaxation {
    BGK, // one relaxation time
    // Two relaxation times: the odd part of each pair of opposite directions
    // relaxes with the time that sets the diffusivity (or the viscosity),
    // the even part with the time that makes Lambda = (tau_odd - 1/2)
    // (tau_even - 1/2) at most TRT_Lambda (BGK, tau_even = tau_odd, below).
    TRT,
};

// Bounce-back turns the heat flux along the wall around in the row beside
// it; the error this leaves grows as the square root of Lambda (in pure
// conduction, two thirds of sqrt(Lambda) rows' worth of heat flux lost at
// the corners). BGK has Lambda = (Tau_T - 1/2)^2; TRT holds it at 0.01,
// that of BGK at Tau_T 0.6, above 0.6. The usual 1/4 put Nu at Ra 1e4
// 0.1 % further off (measured, docs/accuracy.md).
inline constexpr double TRT_Lambda = 0.01;

struct Scheme {
    Insulated_Walls insulated_walls = Insulated_Walls::Copy;
    Relaxation thermal = Relaxation::BGK;
    Relaxation flow = Relaxation::BGK;

    bool operator==(const Scheme&) const = default;
};

// The schemes a run may choose (--scheme NAME), the original first.
struct Named_Scheme {
    const char* name;
    Scheme scheme;
};
inline constexpr Named_Scheme Schemes[] = {
    {"copy", Scheme{}},
    {"bounce-back", Scheme{Insulated_Walls::Bounce_Back, Relaxation::BGK, Relaxation::BGK}},
    {"bounce-back-trt", Scheme{Insulated_Walls::Bounce_Back, Relaxation::TRT, Relaxation::BGK}},
};

// The name of a scheme of the table ("" for another).
inline const char* Scheme_Name(const Scheme& scheme) {
    for (const Named_Scheme& s : Schemes)
        if (s.scheme == scheme)
            return s.name;
    return "";
}

// A scheme as a checkpoint keeps it: one bit a choice, 0 for the original;
// and back, false for bits no scheme has.
inline std::uint32_t Scheme_Code(const Scheme& s) {
    return (s.insulated_walls == Insulated_Walls::Bounce_Back ? 1u : 0u) |
           (s.thermal == Relaxation::TRT ? 2u : 0u) | (s.flow == Relaxation::TRT ? 4u : 0u);
}
inline bool Scheme_Of_Code(std::uint32_t code, Scheme& s) {
    if (code > 7u)
        return false;
    s.insulated_walls = code & 1u ? Insulated_Walls::Bounce_Back : Insulated_Walls::Copy;
    s.thermal = code & 2u ? Relaxation::TRT : Relaxation::BGK;
    s.flow = code & 4u ? Relaxation::TRT : Relaxation::BGK;
    return true;
}

// The even-part relaxation time of a TRT collision whose odd part relaxes
// with `tau`, rounded to float as it is stored: `tau` itself up to 0.6.
inline float Even_Relaxation_Time(float tau) {
    if (tau <= 0.6f)
        return tau;
    return float(0.5 + TRT_Lambda / (double(tau) - 0.5));
}
