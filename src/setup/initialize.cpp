#include "setup/initialize.hpp"
#include "setup/parameters.hpp"
#include "textio/record.hpp"

void Initialize(int n, int m, float& T_Hot, float& T_Cold, float& T_Init, float& T_Ref,
                float& Tau_T, float& G_Beta, float& U_Ref, Field& Rho, Field& U, Field& V,
                float& Tau_F, Field& F, Field& Feq, Field& T, Field& G, Field& U_Old, Field& V_Old,
                Field& T_Old, Physical_Parameters* Parameters_Read) {
    Physical_Parameters p = Read_Parameter_File(Parameter_File_Name);
    if (Parameters_Read)
        *Parameters_Read = p;
    T_Hot = p.T_Hot;
    T_Cold = p.T_Cold;
    T_Init = p.T_Init;
    Tau_T = p.Tau_T;
    Derived_Constants d = Derive_Constants(p, m);
    Tau_F = d.Tau_F;
    G_Beta = d.G_Beta;
    U_Ref = d.U_Ref;
    T_Ref = d.T_Ref;

    Initial_State(n, m, T_Hot, T_Cold, T_Init, Rho, U, V, F, Feq, T, G, U_Old, V_Old, T_Old);

    Pause();

    using textio::Console_Destination, textio::Record;
    Record(Console_Destination()).text("*************************").end();
    Record(Console_Destination()).text("* Please Waite...       *").end();
    Record(Console_Destination())
        .text("******************************************************************************")
        .end();
}
