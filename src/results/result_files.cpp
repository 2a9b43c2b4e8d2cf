#include "results/result_files.hpp"

#include "results/diagnostics.hpp"
#include "textio/record.hpp"

using textio::File_Destination;
using textio::Record;

void Result_Text(int n, int m, float U_Ref, const Field& Rho, const Field& U, const Field& V,
                 const Field& T, const Field& Stream, std::string& out) {
    out.clear();
    out.reserve(32 + 34 + 116 * Node_Count(n, m));
    Record(File_Destination(out)).text("VARIABLES =X,Y,U,V,P,T,Stream").end();
    Record(File_Destination(out))
        .text("ZONE ")
        .text("I=")
        .integer(n + 1)
        .text("J=")
        .integer(m + 1)
        .end();
    for (int j = 0; j <= m; ++j) {
        for (int i = 0; i <= n; ++i) {
            std::size_t c = Node(n, i, j);
            Record(File_Destination(out))
                .real(float(double(i) / double(m)))
                .real(float(double(j) / double(m)))
                .real(float(double(U[c]) / U_Ref))
                .real(float(double(V[c]) / U_Ref))
                .real(float(double(Rho[c]) / 3.0))
                .real(T[c])
                .real(Stream[c])
                .end();
        }
    }
}

void Nu_Text(float Nu_Hot, std::string& out) {
    out.clear();
    Record(File_Destination(out)).real(Nu_Hot).end();
}

void Midline_Texts(int n, int m, float U_Ref, const Field& U, const Field& V, const Field& T,
                   std::string& v_text, std::string& t_text, std::string& u_text) {
    const int mid_row = m / 2, mid_column = n / 2;
    v_text.clear();
    t_text.clear();
    u_text.clear();
    Record(File_Destination(v_text)).text("VARIABLES =X,V").end();
    Record(File_Destination(t_text)).text("VARIABLES =X,T").end();
    Record(File_Destination(u_text)).text("VARIABLES =U,Y").end();
    for (int i = 0; i <= n; ++i) {
        float x = float(double(i) / double(n));
        std::size_t c = Node(n, i, mid_row);
        Record(File_Destination(v_text)).real(x).real(float(double(V[c]) / U_Ref)).end();
        Record(File_Destination(t_text)).real(x).real(T[c]).end();
    }
    for (int j = 0; j <= m; ++j) {
        std::size_t c = Node(n, mid_column, j);
        Record(File_Destination(u_text))
            .real(float(double(U[c]) / U_Ref))
            .real(float(double(j) / double(m)))
            .end();
    }
}

void Output_Results(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                    const Field& V, const Field& T, float& Nu_Hot) {
    // Working storage reused from call to call; nothing in it outlives a call.
    static Field Stream;
    static std::string r_text, nu_text, v_text, t_text, u_text;
    Stream.resize(Node_Count(n, m));
    Compute_Stream(n, m, Rho, U, V, Stream);
    Result_Text(n, m, U_Ref, Rho, U, V, T, Stream, r_text);
    Nu_Hot = Compute_Nu_Hot(n, m, T_Hot, T);
    Nu_Text(Nu_Hot, nu_text);
    Midline_Texts(n, m, U_Ref, U, V, T, v_text, t_text, u_text);
    // All the arithmetic is done before the first file is touched, so a
    // floating-point fault leaves the previous snapshot whole.
    Replace_File("Result.dat", r_text);
    Replace_File("Nu.dat", nu_text);
    Replace_File("V_Velocity_MidLine.dat", v_text);
    Replace_File("TEMPERATURE_MidLine.dat", t_text);
    Replace_File("U_Velocity_Vertical_MidLine.dat", u_text);
}

void Finish_Run(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                const Field& V, const Field& T, float& Nu_Hot) {
    Output_Results(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot);
    using textio::Console_Destination;
    Record(Console_Destination()).end();
    Record(Console_Destination()).text("Solution Has Finished!").end();
    Record(Console_Destination()).end();
    Record(Console_Destination()).text("Thanks For Using This Code.").end();
    Record(Console_Destination()).end();
}
