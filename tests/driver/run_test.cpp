// The run as an object: advanced in pieces of any size, or stopped between
// steps and taken up again, it makes every byte of the run advanced at once.
#include "driver/run.hpp"
#include "results/result_files.hpp"
#include "setup/run_limits.hpp"
#include "support/temporary_folder.hpp"

#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

// 20 x 20 at Ra 1e4, to convergence after some 5600 steps, with all that the
// loop carries from step to step: the extrapolations of --accelerate, the
// settle rule's history, a checkpoint every 1000 steps, two threads.
Run_Options Options() {
    const char* args[] = {
        "cavity", "--accelerate",       "--settle", "1e-5", "--checkpoint", "run.chk", "--threads",
        "2",      "--checkpoint-every", "1000"};
    return Parse_Options(int(std::size(args)), args);
}

bool Same_Bits(const Field& a, const Field& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

struct Run_End {
    std::string words, files;
    std::vector<std::string> notes;
    int Step = 0;
    Ending ending = Ending::Running;
    std::vector<Field> fields; // U, V, T, Rho, U_Old, V_Old, T_Old, F, G, Nu history
};

// The case to its end, `pieces[k]` steps a call in turn; before every third
// call a stop is requested, which must leave the run as it was.
Run_End Run_In_Pieces(Solver solver, const std::vector<int>& pieces) {
    In_Temporary_Folder folder;
    Run r;
    Start_Run(r, solver, Options(), 20, 20, Physical_Parameters{0.71f, 1e4f, 1, 0, 0, 0.6f});
    const std::atomic<bool> stop{true};
    for (std::size_t k = 0;; ++k) {
        if (k % 3 == 0) {
            const int before = r.Step;
            EXPECT_EQ(Advance_Run(r, pieces[k % pieces.size()], &stop), Advance_End::Interrupted);
            EXPECT_EQ(r.Step, before);
        }
        if (Advance_Run(r, pieces[k % pieces.size()]) != Advance_End::Paused)
            break;
    }
    Run_End e;
    e.fields = {r.U,     r.V,     r.T,     r.Rho,   r.U_Old,
                r.V_Old, r.T_Old, Field(), Field(), Field(r.monitor.Nu_History)};
    Run_Distributions(r, e.fields[7], e.fields[8]);
    End_Run(r);
    e.words = r.words.Output;
    e.notes = r.words.Notes;
    e.Step = r.Step;
    e.ending = r.ending;
    for (const char* f : Result_File_Names)
        e.files += folder.Read(f) + "|";
    e.files += folder.Read("run.chk");
    return e;
}

TEST(RunInPieces, SameBytesAsARunAdvancedAtOnce) {
    for (Solver solver : {Solver::Fast, Solver::Reference}) {
        const Run_End once = Run_In_Pieces(solver, {Max_Steps});
        ASSERT_EQ(once.ending, Ending::Residual);
        ASSERT_GT(once.Step, 4000);
        ASSERT_GE(once.notes.size(), 3u); // the ending, the wall Nu, --accelerate
        // Pieces that end on, just before and just after reports, blocks of
        // the extrapolations and checkpoints.
        const Run_End pieces = Run_In_Pieces(solver, {3, 47, 1000, 1, 49, 400, 250});
        EXPECT_EQ(pieces.Step, once.Step);
        EXPECT_EQ(pieces.ending, once.ending);
        EXPECT_TRUE(pieces.words == once.words);
        EXPECT_EQ(pieces.notes, once.notes);
        EXPECT_TRUE(pieces.files == once.files);
        for (std::size_t k = 0; k < once.fields.size(); ++k)
            EXPECT_TRUE(Same_Bits(pieces.fields[k], once.fields[k])) << "array " << k;
    }
}

} // namespace
