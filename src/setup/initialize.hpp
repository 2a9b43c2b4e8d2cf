#pragma once
#include "lattice/lattice.hpp"
#include "setup/parameters.hpp"

#include <string>
#include <vector>

// Reads the parameter file, derives the lattice constants, fills the initial
// state, pauses for one console line and prints the start banner. The six
// values read also go to `Parameters_Read` if given (a checkpoint keeps them).
void Initialize(int n, int m, float& T_Hot, float& T_Cold, float& T_Init, float& T_Ref,
                float& Tau_T, float& G_Beta, float& U_Ref, Field& Rho, Field& U, Field& V,
                float& Tau_F, Field& F, Field& Feq, Field& T, Field& G, Field& U_Old, Field& V_Old,
                Field& T_Old, Physical_Parameters* Parameters_Read = nullptr);

// What Initialize makes of the six values once they are read, without the
// console: checks them (a value refused names its line of the parameter file
// where `lines` has one), sets the run's scalars from them and the constants
// derived from them, and returns the warnings on what is doubtful (what the
// reads passed over, a flow step that may be poor, a buoyancy force that
// rounding resolves coarsely), for the caller to give.
std::vector<std::string> Set_Constants(int n, int m, const Physical_Parameters& p,
                                       const Parameter_Lines& lines, float& T_Hot, float& T_Cold,
                                       float& T_Init, float& T_Ref, float& Tau_T, float& G_Beta,
                                       float& U_Ref, float& Tau_F);

// The fluid at rest with unit density at T_Init, the side walls at their
// temperatures, both distributions at their equilibrium at rest.
void Initial_State(int n, int m, float T_Hot, float T_Cold, float T_Init, Field& Rho, Field& U,
                   Field& V, Field& F, Field& Feq, Field& T, Field& G, Field& U_Old, Field& V_Old,
                   Field& T_Old);

// Halts until the user answers with a line; an answer of two or more
// characters is run as a command first. The end of the input goes on.
void Pause();

// What the pause does with the line it read: the text to run, or "" for none.
std::string Pause_Command(const std::string& line);

inline constexpr const char* Parameter_File_Name = "Input_Parameters.Input";
