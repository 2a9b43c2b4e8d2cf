#include "results/result_files.hpp"

#include "results/diagnostics.hpp"
#include "results/result_records.hpp"
#include "textio/record.hpp"

#include <cfenv>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>

using textio::File_Destination;
using textio::Record;

namespace {

// The header records by the record writer, then room for the data records:
// a buffer already of the right size (the last call's) is overwritten in
// place, without clearing or reallocating it.
char* Headed_Text(std::string& out, const std::string& header, std::size_t data_size) {
    out.resize(header.size() + data_size);
    std::memcpy(out.data(), header.data(), header.size());
    return out.data() + header.size();
}

std::string Header(std::string_view variables) {
    std::string header;
    Record(File_Destination(header)).text(variables).end();
    return header;
}

} // namespace

namespace {

// The headers of "Result.dat" and room for its records; where they go.
char* Result_Headed(int n, int m, std::string& out) {
    std::string header = Header("VARIABLES =X,Y,U,V,P,T,Stream");
    Record(File_Destination(header))
        .text("ZONE ")
        .text("I=")
        .integer(n + 1)
        .text("J=")
        .integer(m + 1)
        .end();
    return Headed_Text(out, header, Node_Record_Size * Node_Count(n, m));
}

// The records in bands of rows, a band a share, the traps held in each;
// false where a share raised a fault. What a share throws (no storage for
// its rows) is thrown here.
bool Node_Records_In_Shares(int n, int m, float U_Ref, const Field& Rho, const Field& U,
                            const Field& V, const Field& T, const Field& Stream, char* data,
                            const Shares& shares) {
    std::mutex mutex;
    bool fault = false;
    std::exception_ptr failure;
    shares([&](int k, int count) {
        const int rows = m + 1;
        const int j0 = int(std::int64_t(rows) * k / count);
        const int j1 = int(std::int64_t(rows) * (k + 1) / count);
        std::fenv_t traps;
        std::feholdexcept(&traps);
        try {
            Put_Node_Rows(n, m, j0, j1, U_Ref, Rho, U, V, T, Stream,
                          data + Node_Record_Size * Node(n, 0, j0));
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            failure = std::current_exception();
        }
        const bool raised = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != 0;
        std::fesetenv(&traps);
        std::lock_guard<std::mutex> lock(mutex);
        fault = fault || raised;
    });
    if (failure)
        std::rethrow_exception(failure);
    return !fault;
}

void Result_Text(int n, int m, float U_Ref, const Field& Rho, const Field& U, const Field& V,
                 const Field& T, const Field& Stream, std::string& out, const Shares& shares) {
    char* data = Result_Headed(n, m, out);
    if (!shares || !Node_Records_In_Shares(n, m, U_Ref, Rho, U, V, T, Stream, data, shares))
        Put_Node_Records(n, m, U_Ref, Rho, U, V, T, Stream, data);
}

} // namespace

void Result_Text(int n, int m, float U_Ref, const Field& Rho, const Field& U, const Field& V,
                 const Field& T, const Field& Stream, std::string& out) {
    Result_Text(n, m, U_Ref, Rho, U, V, T, Stream, out, Shares());
}

void Nu_Text(float Nu_Hot, std::string& out) {
    out.clear();
    Record(File_Destination(out)).real(Nu_Hot).end();
}

void Midline_Texts(int n, int m, float U_Ref, const Field& U, const Field& V, const Field& T,
                   std::string& v_text, std::string& t_text, std::string& u_text) {
    const std::size_t columns = std::size_t(n) + 1, rows = std::size_t(m) + 1;
    char* v_data = Headed_Text(v_text, Header("VARIABLES =X,V"), Pair_Record_Size * columns);
    char* t_data = Headed_Text(t_text, Header("VARIABLES =X,T"), Pair_Record_Size * columns);
    char* u_data = Headed_Text(u_text, Header("VARIABLES =U,Y"), Pair_Record_Size * rows);
    Put_Midline_Records(n, m, U_Ref, U, V, T, v_data, t_data, u_data);
}

void Output_Results(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                    const Field& V, const Field& T, float& Nu_Hot) {
    Output_Results(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot, Shares());
}

void Output_Results(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                    const Field& V, const Field& T, float& Nu_Hot, const Shares& shares) {
    // Working storage reused from call to call; nothing in it outlives a call.
    static Result_Output out;
    Output_Results(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot, shares, out);
}

std::string Result_Path(const std::string& folder, const char* name) {
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

void Output_Results(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                    const Field& V, const Field& T, float& Nu_Hot, const Shares& shares,
                    Result_Output& out) {
    if (!out.Files) {
        Nu_Hot = Compute_Nu_Hot(n, m, T_Hot, T);
        return;
    }
    out.Stream.resize(Node_Count(n, m));
    Compute_Stream(n, m, Rho, U, V, out.Stream);
    Result_Text(n, m, U_Ref, Rho, U, V, T, out.Stream, out.Result, shares);
    Nu_Hot = Compute_Nu_Hot(n, m, T_Hot, T);
    Nu_Text(Nu_Hot, out.Nu);
    Midline_Texts(n, m, U_Ref, U, V, T, out.V_Midline, out.T_Midline, out.U_Midline);
    // All the arithmetic is done before the first file is touched, so a
    // floating-point fault leaves the previous snapshot whole.
    const std::string* texts[] = {&out.Result, &out.Nu, &out.V_Midline, &out.T_Midline,
                                  &out.U_Midline};
    for (int k = 0; k < 5; ++k)
        Replace_File(Result_Path(out.Folder, Result_File_Names[k]).c_str(), *texts[k]);
}

void Finish_Run(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                const Field& V, const Field& T, float& Nu_Hot) {
    Finish_Run(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot, Shares());
}

namespace {

void Closing_Lines() {
    using textio::Console_Destination;
    Record(Console_Destination()).end();
    Record(Console_Destination()).text("Solution Has Finished!").end();
    Record(Console_Destination()).end();
    Record(Console_Destination()).text("Thanks For Using This Code.").end();
    Record(Console_Destination()).end();
}

} // namespace

void Finish_Run(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                const Field& V, const Field& T, float& Nu_Hot, const Shares& shares) {
    Output_Results(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot, shares);
    Closing_Lines();
}

void Finish_Run(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                const Field& V, const Field& T, float& Nu_Hot, const Shares& shares,
                Result_Output& out) {
    Output_Results(n, m, T_Hot, U_Ref, Rho, U, V, T, Nu_Hot, shares, out);
    Closing_Lines();
}
