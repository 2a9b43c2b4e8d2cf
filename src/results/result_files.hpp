#pragma once
#include "lattice/lattice.hpp"

#include <csignal>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

// A result file that cannot be created, written or put in place.
struct Output_Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Rewrites the five result files from the current fields and sets Nu_Hot.
void Output_Results(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                    const Field& V, const Field& T, float& Nu_Hot);

// The final snapshot and the closing lines.
void Finish_Run(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                const Field& V, const Field& T, float& Nu_Hot);

// Runs work(k, count) for every k = 0 .. count - 1, each on a thread of its
// own (the run's), and returns when all have finished.
using Shares = std::function<void(const std::function<void(int k, int count)>& work)>;

// The same two with the records of "Result.dat", most of a report's work,
// laid out in bands of rows, a band a share: the same bytes. Each share
// holds the floating-point traps; where one raised invalid, divide by zero
// or overflow, the records are laid out again in the one-thread order,
// which ends the run at its first fault as it always has.
void Output_Results(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                    const Field& V, const Field& T, float& Nu_Hot, const Shares& shares);
void Finish_Run(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                const Field& V, const Field& T, float& Nu_Hot, const Shares& shares);

// Where a run's result files go, and the working storage their texts are
// laid out in, kept from report to report (the program's run keeps one, and
// so does each run a library holds, so that runs on two threads share none).
struct Result_Output {
    std::string Folder; // "": the working folder, as the program writes them
    bool Files = true;  // false: no files, the report's Nu alone
    Field Stream;
    std::string Result, Nu, V_Midline, T_Midline, U_Midline;
};

// The same two with the files in `out.Folder` and the texts laid out in
// `out`; with `out.Files` false, Nu_Hot alone (and the closing lines).
void Output_Results(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                    const Field& V, const Field& T, float& Nu_Hot, const Shares& shares,
                    Result_Output& out);
void Finish_Run(int n, int m, float T_Hot, float U_Ref, const Field& Rho, const Field& U,
                const Field& V, const Field& T, float& Nu_Hot, const Shares& shares,
                Result_Output& out);

// The path of the result file `name` in `folder` ("": the working folder).
std::string Result_Path(const std::string& folder, const char* name);

// The text of each file, as Output_Results writes it.
void Result_Text(int n, int m, float U_Ref, const Field& Rho, const Field& U, const Field& V,
                 const Field& T, const Field& Stream, std::string& out);
void Nu_Text(float Nu_Hot, std::string& out);
void Midline_Texts(int n, int m, float U_Ref, const Field& U, const Field& V, const Field& T,
                   std::string& v_text, std::string& t_text, std::string& u_text);

// Replaces the file `name` by `text` in one piece: written to a temporary
// file beside it, then renamed over it, so the file is always either the old
// or the new snapshot. Throws Output_Error naming the file.
void Replace_File(const char* name, const std::string& text);

// The same for a file too large to be held whole: `write_text` writes the
// text through the sink it is given, piece by piece, in order. What it
// throws abandons the temporary file and goes on up.
using Text_Sink = std::function<void(std::string_view)>;
void Replace_File(const char* name, const std::function<void(const Text_Sink&)>& write_text);

// The five result files, in the order they are written, and the temporary
// file beside each that takes the next snapshot.
inline constexpr const char* Result_File_Names[] = {
    "Result.dat", "Nu.dat", "V_Velocity_MidLine.dat", "TEMPERATURE_MidLine.dat",
    "U_Velocity_Vertical_MidLine.dat"};
inline constexpr const char* Temporary_File_Names[] = {
    "Result.dat.tmp", "Nu.dat.tmp", "V_Velocity_MidLine.dat.tmp", "TEMPERATURE_MidLine.dat.tmp",
    "U_Velocity_Vertical_MidLine.dat.tmp"};

// Removes the temporary files (at the end of a run, whatever the end). The
// signal form uses only async-signal-safe calls.
void Remove_Temporary_Files();
void Remove_Partial_File_From_Signal();

// The temporary files beside the result files in `folder` (a library's run,
// at its end).
void Remove_Temporary_Files(const std::string& folder);

// Whether the temporary files of the result files in the folder are this
// process's to remove (they are unless it says otherwise): a run that may yet
// be refused the folder leaves another run's alone.
void Own_Temporary_Files(bool own);

// One more temporary file to remove with those of the result files, from the
// moment it is named (a checkpoint's, once the run has begun to write it).
void Remove_Temporary_File_Too(const std::string& tmp);

// What the calls above keep track of: the temporary file being written, the
// one more of the run's own, and whether the working folder's temporary
// result files are ours. The process keeps one, for its signal handlers; a
// library keeps one a run and puts it in place on the thread that makes a
// call on the run, so that a trap removes that run's file alone.
struct Temporary_Files {
    char partial_path[4096] = {};
    volatile std::sig_atomic_t partial_active = 0;
    char other_path[4096] = {};
    volatile std::sig_atomic_t other_active = 0;
    volatile std::sig_atomic_t owned = 1;
};

// Makes `files` this thread's (nullptr: the process's) and returns the one
// before.
Temporary_Files* Temporary_Files_In(Temporary_Files* files);
