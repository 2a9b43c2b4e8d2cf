#pragma once
// The parameter file and the lattice constants derived from it.

struct Physical_Parameters {
    float Pr, Ra, T_Hot, T_Cold, T_Init, Tau_T;
};

// Reads the six values of "Input_Parameters.Input" in the working directory:
// labels on the odd lines, the values on the even lines. Throws
// textio::Input_Error naming the file, the line and the quantity.
Physical_Parameters Read_Parameter_File(const char* path);

struct Derived_Constants {
    float Diffusivity, Viscosity, Tau_F, G_Beta, U_Ref, T_Ref;
};

// The relaxation time of the flow, the buoyancy coefficient, the reference
// velocity and temperature for a cavity m lattice units high. A negative
// Ra * Diffusivity / Viscosity, which leaves the reference velocity without a
// real value, throws Parameter_Error.
Derived_Constants Derive_Constants(const Physical_Parameters& p, int m);
