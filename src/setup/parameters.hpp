#pragma once
// The parameter file and the lattice constants derived from it.
#include <string>
#include <vector>

struct Physical_Parameters {
    float Pr, Ra, T_Hot, T_Cold, T_Init, Tau_T;
};

// Where a value stood in the file and what followed it on its line.
struct Value_Line {
    int line = 0; // 0: not read from a file
    std::string item, rest;
};
struct Parameter_Lines {
    Value_Line Pr, Ra, T_Hot, T_Cold, T_Init, Tau_T;
};

// Reads the six values of "Input_Parameters.Input" in the working directory:
// labels on the odd lines, the values on the even lines. Throws
// textio::Input_Error naming the file, the line and the quantity. `lines`,
// if given, gets where each value stood.
Physical_Parameters Read_Parameter_File(const char* path, Parameter_Lines* lines = nullptr);

// Refuses values the run cannot start from (Pr or Ra not positive, equal
// wall temperatures, Tau_T not above 0.5) with a Parameter_Error naming the
// parameter, its line and its value.
void Check_Parameters(const Physical_Parameters& p, const Parameter_Lines& lines);

// Warnings on what the reads passed over: a second number after a value
// ("10 000"), or a comma and digits ("0,71"), which end the number.
std::vector<std::string> Reading_Warnings(const Parameter_Lines& lines);

struct Derived_Constants {
    float Diffusivity, Viscosity, Tau_F, G_Beta, U_Ref, T_Ref;
};

// The relaxation time of the flow, the buoyancy coefficient, the reference
// velocity and temperature for a cavity m lattice units high. A negative
// Ra * Diffusivity / Viscosity, which leaves the reference velocity without a
// real value, throws Parameter_Error.
Derived_Constants Derive_Constants(const Physical_Parameters& p, int m);

// Warnings on a flow step that may be inaccurate or unstable: U_Ref above
// 0.25 of the lattice sound speed (a compressibility error in Nu of about
// 0.5 %), Tau_F below 0.51.
std::vector<std::string> Stability_Warnings(const Physical_Parameters& p,
                                            const Derived_Constants& d, int m);

// After those warnings, what a floating-point trap of the step most likely
// comes from, with the remedy ("the flow has blown up, as U_Ref = ... let
// it; a finer grid ..."); "" where neither U_Ref nor Tau_F was warned.
std::string Blow_Up_Cause(const Physical_Parameters& p, const Derived_Constants& d, int n, int m);

// The largest buoyancy term of a run (the largest |T - T_Ref| among T_Hot,
// T_Cold and T_Init, Rho = 1) against the distributions at rest it is added
// to, as the collision rounds it.
struct Buoyancy_Resolution {
    float Temperature_Difference; // the largest |T - T_Ref|
    float Term;                   // the buoyancy term of direction 2
    double Units;                 // |Term| in units in the last place of W(2)
    bool Resolved;                // the collision keeps some of it
};
Buoyancy_Resolution Resolve_Buoyancy(const Physical_Parameters& p, const Derived_Constants& d);

// The largest height from 2 to m at which the buoyancy is resolved with a
// rounding error (half a unit over Units) of at most max_error; 0 if none.
int Largest_Resolving_M(const Physical_Parameters& p, int m, double max_error);

// The quantisation error above which a warning is given.
inline constexpr double Buoyancy_Error_Warned = 0.01;

// Refuses a grid whose buoyancy rounding removes entirely (Parameter_Error);
// returns the warning for one that resolves it coarsely, "" otherwise.
std::string Check_Buoyancy(const Physical_Parameters& p, const Derived_Constants& d, int m);
