// The run as an object: advanced in pieces of any size, or stopped between
// steps and taken up again, it makes every byte of the run advanced at once.
#include "driver/run.hpp"
#include "results/result_files.hpp"
#include "setup/run_limits.hpp"
#include "support/temporary_folder.hpp"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <thread>
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

// A library's run with its result files in `folder`, to its end or its
// trap, and what it left.
struct Kept_Run {
    std::string words, files, trap;
    std::vector<std::string> notes;
    int Step = 0;
};

Kept_Run Run_In_Folder(const std::string& folder, int n, const Physical_Parameters& p) {
    const char* args[] = {"cavity", "--threads", "2", "--settle", "1e-5"};
    Run r;
    r.output.Folder = folder;
    Start_Run(r, Solver::Fast, Parse_Options(int(std::size(args)), args), n, n, p);
    Kept_Run k;
    if (Advance_Run(r, Max_Steps) == Advance_End::Trapped)
        k.trap = r.trap;
    else
        End_Run(r);
    k.words = r.words.Output;
    k.notes = r.words.Notes;
    k.Step = r.Step;
    for (const char* f : Result_File_Names) {
        std::ifstream in(Result_Path(folder, f), std::ios::binary);
        k.files += std::string(std::istreambuf_iterator<char>(in), {}) + "|";
    }
    Remove_Temporary_Files(folder);
    return k;
}

void Expect_Same(const Kept_Run& a, const Kept_Run& b) {
    EXPECT_EQ(a.Step, b.Step);
    EXPECT_EQ(a.trap, b.trap);
    EXPECT_TRUE(a.words == b.words);
    EXPECT_EQ(a.notes, b.notes);
    EXPECT_TRUE(a.files == b.files);
}

// Two runs a library holds, called at the same time from two threads, keep
// their words, their result files and their traps to themselves: each makes
// the bytes it makes alone, and a trap ends only the run it comes from.
TEST(RunsOnTwoThreads, EachKeepsItsWordsFilesAndTraps) {
    In_Temporary_Folder here;
    for (const char* f : {"a", "b", "c", "d"})
        std::filesystem::create_directory(f);
    const Physical_Parameters calm{0.71f, 1e4f, 1, 0, 0, 0.6f};
    const Physical_Parameters wild{0.71f, 1e9f, 1, 0, 0, 0.51f}; // far too fast for 12 x 12
    const Kept_Run calm_alone = Run_In_Folder("a", 16, calm);
    const Kept_Run wild_alone = Run_In_Folder("c", 12, wild);
    ASSERT_TRUE(wild_alone.trap.size() > 0);
    ASSERT_GT(calm_alone.Step, 1000);
    Kept_Run calm_beside, wild_beside, calm_again;
    std::thread other([&] { calm_beside = Run_In_Folder("b", 16, calm); });
    wild_beside = Run_In_Folder("d", 12, wild);
    calm_again = Run_In_Folder("d", 16, calm); // while the other may still run
    other.join();
    Expect_Same(calm_beside, calm_alone);
    Expect_Same(wild_beside, wild_alone);
    Expect_Same(calm_again, calm_alone);
    EXPECT_FALSE(std::filesystem::exists("Result.dat")); // nothing in the working folder
}

} // namespace
