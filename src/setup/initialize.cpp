#include "setup/initialize.hpp"
#include "setup/parameters.hpp"
#include "textio/console.hpp"
#include "textio/record.hpp"

namespace {

// A grid 1 node high has no cavity between its walls, which sit half a
// spacing inside the end nodes: no height, so no Ra of its own, and a Nu.dat
// that is a figure of the lattice (the tools refuse such a grid likewise).
std::string Grid_Warning(int n, int m) {
    if (m >= 2)
        return "";
    return "warning: on a " + std::to_string(n) + " x " + std::to_string(m) +
           " grid the cavity between the walls, which sit half a spacing inside the end nodes, "
           "is m - 1 = 0 spacings high: it holds no fluid and has no Rayleigh number, and "
           "Nu.dat is no Nusselt number of it (a 1 x 1 grid writes 4 for pure conduction, whose "
           "Nu is 1); m of at least 2 gives the cavity a height (cavity-sweep refuses m = 1 for "
           "the same reason)";
}

// The warnings on what was passed over in the file and on a force or a flow
// step that may be poor; a grid on which the buoyancy force is lost to
// rounding is refused. A grid without interior nodes has no fluid that could
// move: the flow checks do not apply to it.
std::vector<std::string> What_Is_Doubtful(const Physical_Parameters& p, const Derived_Constants& d,
                                          int n, int m, const Parameter_Lines& lines) {
    const bool fluid = n >= 2 && m >= 2;
    const std::string force = fluid ? Check_Buoyancy(p, d, m) : "";
    std::vector<std::string> warnings = Reading_Warnings(lines);
    if (const std::string grid = Grid_Warning(n, m); !grid.empty())
        warnings.push_back(grid);
    if (fluid) {
        for (const std::string& w : Stability_Warnings(p, d, m))
            warnings.push_back(w);
        if (!force.empty())
            warnings.push_back(force);
    }
    return warnings;
}

} // namespace

std::vector<std::string> Set_Constants(int n, int m, const Physical_Parameters& p,
                                       const Parameter_Lines& lines, float& T_Hot, float& T_Cold,
                                       float& T_Init, float& T_Ref, float& Tau_T, float& G_Beta,
                                       float& U_Ref, float& Tau_F) {
    T_Hot = p.T_Hot;
    T_Cold = p.T_Cold;
    T_Init = p.T_Init;
    Tau_T = p.Tau_T;
    Check_Parameters(p, lines);
    Derived_Constants d = Derive_Constants(p, m);
    std::vector<std::string> warnings = What_Is_Doubtful(p, d, n, m, lines);
    Tau_F = d.Tau_F;
    G_Beta = d.G_Beta;
    U_Ref = d.U_Ref;
    T_Ref = d.T_Ref;
    return warnings;
}

void Initialize(int n, int m, float& T_Hot, float& T_Cold, float& T_Init, float& T_Ref,
                float& Tau_T, float& G_Beta, float& U_Ref, Field& Rho, Field& U, Field& V,
                float& Tau_F, Field& F, Field& Feq, Field& T, Field& G, Field& U_Old, Field& V_Old,
                Field& T_Old, Physical_Parameters* Parameters_Read) {
    Parameter_Lines lines;
    Physical_Parameters p = Read_Parameter_File(Parameter_File_Name, &lines);
    if (Parameters_Read)
        *Parameters_Read = p;
    for (const std::string& w :
         Set_Constants(n, m, p, lines, T_Hot, T_Cold, T_Init, T_Ref, Tau_T, G_Beta, U_Ref, Tau_F))
        textio::Console_Note(w);

    Initial_State(n, m, T_Hot, T_Cold, T_Init, Rho, U, V, F, Feq, T, G, U_Old, V_Old, T_Old);

    Pause();

    using textio::Console_Destination, textio::Record;
    Record(Console_Destination()).text("*************************").end();
    Record(Console_Destination()).text("* Please Waite...       *").end();
    Record(Console_Destination())
        .text("******************************************************************************")
        .end();
}
