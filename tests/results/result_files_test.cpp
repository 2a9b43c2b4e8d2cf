#include "results/diagnostics.hpp"
#include "results/result_files.hpp"
#include "support/fields.hpp"
#include "support/temporary_folder.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stdlib.h>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t p = 0;
    while (p < text.size()) {
        std::size_t q = text.find("\r\n", p);
        EXPECT_NE(q, std::string::npos) << "unterminated line";
        if (q == std::string::npos)
            break;
        lines.push_back(text.substr(p, q - p));
        p = q + 2;
    }
    return lines;
}

std::string Result_Of(Run_State& s) {
    Field Stream(Node_Count(s.n, s.m));
    Compute_Stream(s.n, s.m, s.Rho, s.U, s.V, Stream);
    std::string out;
    Result_Text(s.n, s.m, s.U_Ref, s.Rho, s.U, s.V, s.T, Stream, out);
    return out;
}

std::string Slot(const std::string& text) {
    return std::string(16 - text.size(), ' ') + text;
}

TEST(ResultFile, SizesAndLinesOfATenByTenGrid) {
    Run_State s(10, 10);
    s.Initial(1.0f, 0.0f, 0.0f);
    std::string r = Result_Of(s);
    EXPECT_EQ(r.size(), 14102u);
    std::vector<std::string> lines = Lines(r);
    ASSERT_EQ(lines.size(), 244u);
    EXPECT_EQ(lines[0], " VARIABLES =X,Y,U,V,P,T,Stream");
    EXPECT_EQ(lines[1], " ZONE I=         11J=         11");
    for (std::size_t k = 2; k < lines.size(); ++k)
        EXPECT_EQ(lines[k].size(), k % 2 == 0 ? 64u : 48u) << k;
}

TEST(ResultFile, NodeRecordsRunIFastestFromTheBottomRow) {
    Run_State s(10, 10);
    s.Initial(1.0f, 0.0f, 0.0f);
    std::vector<std::string> lines = Lines(Result_Of(s));
    const std::string zero = Slot("0.000000E+00");
    // Node (0, 0) of a field at rest with T = 1 on the hot wall.
    EXPECT_EQ(lines[2], zero + zero + zero + zero);
    EXPECT_EQ(lines[3], Slot("3.333333E-01") + Slot("1.000000") + zero);
    // Node (1, 0), then node (0, 1) after node (10, 0).
    EXPECT_EQ(lines[4], Slot("1.000000E-01") + zero + zero + zero);
    EXPECT_EQ(lines[5], Slot("3.333333E-01") + zero + zero);
    EXPECT_EQ(lines[2 + 2 * 11], zero + Slot("1.000000E-01") + zero + zero);
    EXPECT_EQ(lines[2 + 2 * 10], Slot("1.000000") + zero + zero + zero);
}

TEST(ResultFile, XIsMeasuredInUnitsOfTheHeight) {
    Run_State s(20, 10);
    s.Initial(1.0f, 0.0f, 0.0f);
    std::vector<std::string> lines = Lines(Result_Of(s));
    EXPECT_EQ(lines[1], " ZONE I=         21J=         11");
    EXPECT_EQ(lines[2 + 2 * 20].substr(0, 16), Slot("2.000000"));      // node (20, 0)
    EXPECT_EQ(lines[2 + 2 * 21].substr(16, 16), Slot("1.000000E-01")); // node (0, 1)
}

TEST(ResultFile, VelocitiesAreScaledAndPressureIsRhoOverThree) {
    Run_State s(2, 2);
    s.Initial(1.0f, 0.0f, 0.0f);
    s.U_Ref = 0.25f;
    std::size_t c = Node(s.n, 1, 1);
    s.U[c] = 0.125f;
    s.V[c] = -0.0625f;
    s.Rho[c] = 1.5f;
    s.T[c] = 12.5f;
    std::vector<std::string> lines = Lines(Result_Of(s));
    std::size_t rec = 2 + 2 * (1 + 3 * 1);
    EXPECT_EQ(lines[rec], Slot("5.000000E-01") + Slot("5.000000E-01") + Slot("5.000000E-01") +
                              Slot("-2.500000E-01"));
    EXPECT_EQ(lines[rec + 1].substr(0, 32), Slot("5.000000E-01") + Slot("12.500000"));
}

TEST(MidlineFiles, SampleTheMiddleRowAndColumnRoundedDown) {
    Run_State s(9, 9);
    s.Initial(1.0f, 0.0f, 0.0f);
    s.U_Ref = 1.0f;
    for (int k = 0; k <= 9; ++k) {
        s.V[Node(s.n, k, 4)] = 0.5f; // row m/2 = 4
        s.T[Node(s.n, k, 4)] = 2.0f;
        s.U[Node(s.n, 4, k)] = -0.25f; // column n/2 = 4
    }
    std::string v, t, u;
    Midline_Texts(s.n, s.m, s.U_Ref, s.U, s.V, s.T, v, t, u);
    std::vector<std::string> vl = Lines(v), tl = Lines(t), ul = Lines(u);
    ASSERT_EQ(vl.size(), 11u);
    ASSERT_EQ(ul.size(), 11u);
    EXPECT_EQ(vl[0], " VARIABLES =X,V");
    EXPECT_EQ(tl[0], " VARIABLES =X,T");
    EXPECT_EQ(ul[0], " VARIABLES =U,Y");
    EXPECT_EQ(vl[1], Slot("0.000000E+00") + Slot("5.000000E-01"));
    EXPECT_EQ(tl[10], Slot("1.000000") + Slot("2.000000"));
    EXPECT_EQ(ul[10], Slot("-2.500000E-01") + Slot("1.000000"));
    EXPECT_EQ(v.size(), 17u + 34u * 10u);
}

TEST(MidlineFiles, WideCavityScalesXByTheWidth) {
    Run_State s(20, 10);
    s.Initial(1.0f, 0.0f, 0.0f);
    std::string v, t, u;
    Midline_Texts(s.n, s.m, s.U_Ref, s.U, s.V, s.T, v, t, u);
    std::vector<std::string> vl = Lines(v), ul = Lines(u);
    ASSERT_EQ(vl.size(), 22u);
    ASSERT_EQ(ul.size(), 12u);
    EXPECT_EQ(vl[21].substr(0, 16), Slot("1.000000"));
    EXPECT_EQ(vl[11].substr(0, 16), Slot("5.000000E-01"));
    EXPECT_EQ(ul[11].substr(16), Slot("1.000000"));
}

TEST(NuFile, OneRealRecord) {
    std::string out;
    Nu_Text(2.2f, out);
    EXPECT_EQ(out, "        2.200000\r\n");
}

} // namespace

namespace {

TEST(OutputResults, SecondCallWithTheSameFieldsWritesTheSameBytes) {
    In_Temporary_Folder folder;
    Run_State s(13, 9);
    s.Initial(1.0f, 0.0f, 0.3f);
    for (std::size_t c = 0; c < s.U.size(); ++c) { // a moving, uneven field
        s.U[c] = 0.001f * float(c % 17) - 0.008f;
        s.V[c] = 0.0007f * float(c % 11);
        s.T[c] = 0.1f + 0.01f * float(c % 23);
    }
    float nu_first = 0, nu_second = 0;
    Output_Results(s.n, s.m, 1.0f, 0.05f, s.Rho, s.U, s.V, s.T, nu_first);
    std::vector<std::string> first;
    for (const char* f : Result_File_Names)
        first.push_back(folder.Read(f));
    Output_Results(s.n, s.m, 1.0f, 0.05f, s.Rho, s.U, s.V, s.T, nu_second);
    EXPECT_EQ(Bits(nu_first), Bits(nu_second));
    for (std::size_t k = 0; k < first.size(); ++k)
        EXPECT_EQ(folder.Read(Result_File_Names[k]), first[k]) << Result_File_Names[k];
    EXPECT_EQ(first[0].size(), 32u + 34u + 116u * 14u * 10u);
    // The temporary files hold the previous snapshot until the run ends.
    Remove_Temporary_Files();
    int files = 0;
    for (auto& e : std::filesystem::directory_iterator(folder.dir))
        files += e.is_regular_file();
    EXPECT_EQ(files, 5);
}

TEST(OutputResults, RowsLaidOutInSharesOnThreadsGiveTheSameBytes) {
    In_Temporary_Folder folder;
    Run_State s(21, 16);
    s.Initial(1.0f, 0.0f, 0.3f);
    for (std::size_t c = 0; c < s.U.size(); ++c) {
        s.U[c] = 1e-12f * float(c % 29) - 0.008f * float(c % 3); // tiny values and zeros too
        s.V[c] = 0.0007f * float(c % 11);
        s.T[c] = 0.1f + 0.01f * float(c % 23);
    }
    float nu = 0, nu_shared = 0;
    Output_Results(s.n, s.m, 1.0f, 0.05f, s.Rho, s.U, s.V, s.T, nu);
    std::vector<std::string> alone;
    for (const char* f : Result_File_Names)
        alone.push_back(folder.Read(f));
    // Five shares for 17 rows: bands of 3 and 4 rows, each on a thread.
    const Shares five = [](const std::function<void(int, int)>& work) {
        std::vector<std::thread> threads;
        for (int k = 0; k < 5; ++k)
            threads.emplace_back(work, k, 5);
        for (std::thread& t : threads)
            t.join();
    };
    Output_Results(s.n, s.m, 1.0f, 0.05f, s.Rho, s.U, s.V, s.T, nu_shared, five);
    EXPECT_EQ(Bits(nu), Bits(nu_shared));
    for (std::size_t k = 0; k < alone.size(); ++k)
        EXPECT_EQ(folder.Read(Result_File_Names[k]), alone[k]) << Result_File_Names[k];
    Remove_Temporary_Files();
}

} // namespace
