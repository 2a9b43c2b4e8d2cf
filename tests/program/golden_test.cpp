// A whole small run compared byte for byte with its recorded output: any
// change to one byte of the console output or of the five files fails it.
#include "support/program_run.hpp"

#include <gtest/gtest.h>

#ifndef CAVITY_GOLDEN_DIR
#error "CAVITY_GOLDEN_DIR must name the folder of the recorded runs"
#endif

namespace {

namespace fs = std::filesystem;

void Check_Golden(const std::string& name) {
    fs::path golden = fs::path(CAVITY_GOLDEN_DIR) / name;
    std::string params = program::Read_File(golden / "Input_Parameters.Input");
    program::Program_Run run(&params);
    ASSERT_EQ(run.Start(program::Read_File(golden / "console.in")), 0) << run.err;
    bool update = std::getenv("CAVITY_UPDATE_GOLDEN") != nullptr;
    auto compare = [&](const std::string& actual, const std::string& file) {
        fs::path expected = golden / (file + ".expected");
        if (update)
            program::Write_File(expected, actual);
        // Compared as bools first so a mismatch does not print megabytes.
        bool same = actual == program::Read_File(expected);
        EXPECT_TRUE(same) << file << " differs from " << expected;
    };
    compare(run.out, "console");
    compare(run.err, "console-errors");
    for (const char* f : program::Result_Files)
        compare(run.File(f), f);
}

TEST(Golden, SideHeatedTwelveByEight) {
    Check_Golden("side_heated_12x8");
}

} // namespace
