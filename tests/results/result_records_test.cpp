// The data records laid out straight into the file text against the same
// records through the record writer, item by item.
#include "results/result_files.hpp"
#include "support/fields.hpp"
#include "textio/record.hpp"

#include <bit>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <utility>
#include <vector>

using textio::File_Destination;
using textio::Record;

namespace {

// "Result.dat" record by record through the record writer.
std::string Result_By_Records(const Run_State& s, const Field& Stream) {
    std::string out;
    Record(File_Destination(out)).text("VARIABLES =X,Y,U,V,P,T,Stream").end();
    Record(File_Destination(out))
        .text("ZONE ")
        .text("I=")
        .integer(s.n + 1)
        .text("J=")
        .integer(s.m + 1)
        .end();
    for (int j = 0; j <= s.m; ++j)
        for (int i = 0; i <= s.n; ++i) {
            std::size_t c = Node(s.n, i, j);
            Record(File_Destination(out))
                .real(float(double(i) / double(s.m)))
                .real(float(double(j) / double(s.m)))
                .real(float(double(s.U[c]) / s.U_Ref))
                .real(float(double(s.V[c]) / s.U_Ref))
                .real(float(double(s.Rho[c]) / 3.0))
                .real(s.T[c])
                .real(Stream[c])
                .end();
        }
    return out;
}

struct Midlines {
    std::string v, t, u;
};

Midlines Midlines_By_Records(const Run_State& s) {
    Midlines out;
    Record(File_Destination(out.v)).text("VARIABLES =X,V").end();
    Record(File_Destination(out.t)).text("VARIABLES =X,T").end();
    Record(File_Destination(out.u)).text("VARIABLES =U,Y").end();
    for (int i = 0; i <= s.n; ++i) {
        float x = float(double(i) / double(s.n));
        std::size_t c = Node(s.n, i, s.m / 2);
        Record(File_Destination(out.v)).real(x).real(float(double(s.V[c]) / s.U_Ref)).end();
        Record(File_Destination(out.t)).real(x).real(s.T[c]).end();
    }
    for (int j = 0; j <= s.m; ++j) {
        std::size_t c = Node(s.n, s.n / 2, j);
        Record(File_Destination(out.u))
            .real(float(double(s.U[c]) / s.U_Ref))
            .real(float(double(j) / double(s.m)))
            .end();
    }
    return out;
}

// Any finite float, with zeros of both signs, the extremes and the longest
// text mixed in. U_Ref >= 1 keeps the quotients finite.
float Any_Real(std::mt19937& rng) {
    static const float extremes[] = {0.0f,           -0.0f,           3.4028235e38f,
                                     -3.4028235e38f, 1.17549435e-38f, std::bit_cast<float>(1u),
                                     -1234567.0f,    9999999.0f,      1.0e7f,
                                     0.99999994f,    8388607.5f,      0.00048828125f};
    std::uint32_t pick = rng() % 16;
    if (pick < std::size(extremes))
        return extremes[pick];
    for (;;) {
        std::uint32_t bits = rng();
        if ((bits & 0x7f800000u) != 0x7f800000u)
            return std::bit_cast<float>(bits);
    }
}

Run_State Random_State(int n, int m, std::uint32_t seed) {
    Run_State s(n, m);
    std::mt19937 rng(seed);
    for (Field* f : {&s.U, &s.V, &s.Rho, &s.T})
        for (float& x : *f)
            x = Any_Real(rng);
    s.U_Ref = 1.0f + float(rng() % 1000) / 7.0f;
    return s;
}

// A converging run's kind of field: small velocities over a small U_Ref.
Run_State Run_Like_State(int n, int m, std::uint32_t seed) {
    Run_State s(n, m);
    s.Initial(1.0f, 0.0f, 0.5f);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> vel(-0.02f, 0.02f), temp(0.0f, 1.0f), drho(-1e-3f, 1e-3f);
    for (int j = 1; j < m; ++j)
        for (int i = 1; i < n; ++i) {
            std::size_t c = Node(n, i, j);
            s.U[c] = vel(rng);
            s.V[c] = vel(rng);
            s.T[c] = temp(rng);
            s.Rho[c] = 1.0f + drho(rng);
        }
    s.U_Ref = 0.0577f;
    return s;
}

Field Stream_Of(const Run_State& s, std::uint32_t seed) {
    Field Stream(Node_Count(s.n, s.m));
    std::mt19937 rng(seed);
    for (float& x : Stream)
        x = Any_Real(rng);
    return Stream;
}

const std::vector<std::pair<int, int>> Sizes = {{1, 1},  {1, 6},   {6, 1},   {2, 2},
                                                {3, 7},  {8, 3},   {12, 8},  {20, 10},
                                                {9, 20}, {31, 17}, {64, 64}, {2, 150}};

TEST(ResultRecords, SameBytesAsTheRecordWriterOnAnyValues) {
    std::uint32_t seed = 1;
    for (auto [n, m] : Sizes) {
        Run_State s = Random_State(n, m, seed++);
        Field Stream = Stream_Of(s, seed++);
        std::string text;
        Result_Text(n, m, s.U_Ref, s.Rho, s.U, s.V, s.T, Stream, text);
        ASSERT_EQ(text, Result_By_Records(s, Stream)) << n << " x " << m;
    }
}

TEST(ResultRecords, SameBytesAsTheRecordWriterOnARunLikeField) {
    for (auto [n, m] : Sizes) {
        Run_State s = Run_Like_State(n, m, std::uint32_t(n * 1000 + m));
        Field Stream(Node_Count(n, m));
        std::mt19937 rng(3);
        std::uniform_real_distribution<float> psi(-0.01f, 0.01f);
        for (float& x : Stream)
            x = psi(rng);
        std::string text;
        Result_Text(n, m, s.U_Ref, s.Rho, s.U, s.V, s.T, Stream, text);
        ASSERT_EQ(text, Result_By_Records(s, Stream)) << n << " x " << m;
    }
}

TEST(ResultRecords, ReusedBufferKeepsNothingOfTheLastText) {
    // Larger, smaller, then the same size over stale bytes: every byte must
    // be written each time.
    std::string text;
    const std::pair<int, int> order[] = {{20, 10}, {3, 7}, {20, 10}, {20, 10}};
    std::uint32_t seed = 40;
    for (auto [n, m] : order) {
        Run_State s = Random_State(n, m, seed++);
        Field Stream = Stream_Of(s, seed++);
        std::string want = Result_By_Records(s, Stream);
        if (text.size() == want.size())
            text.assign(text.size(), '#');
        Result_Text(n, m, s.U_Ref, s.Rho, s.U, s.V, s.T, Stream, text);
        ASSERT_EQ(text, want) << n << " x " << m;
    }
}

TEST(MidlineRecords, SameBytesAsTheRecordWriter) {
    std::uint32_t seed = 100;
    for (auto [n, m] : Sizes) {
        for (bool run_like : {false, true}) {
            Run_State s = run_like ? Run_Like_State(n, m, seed++) : Random_State(n, m, seed++);
            Midlines want = Midlines_By_Records(s);
            std::string v, t, u;
            Midline_Texts(n, m, s.U_Ref, s.U, s.V, s.T, v, t, u);
            ASSERT_EQ(v, want.v) << n << " x " << m;
            ASSERT_EQ(t, want.t) << n << " x " << m;
            ASSERT_EQ(u, want.u) << n << " x " << m;
        }
    }
}

TEST(MidlineRecords, ReusedBuffersKeepNothingOfTheLastText) {
    std::string v, t, u;
    const std::pair<int, int> order[] = {{12, 8}, {2, 2}, {12, 8}};
    std::uint32_t seed = 200;
    for (auto [n, m] : order) {
        Run_State s = Random_State(n, m, seed++);
        Midlines want = Midlines_By_Records(s);
        for (std::string* text : {&v, &t, &u})
            text->assign(text->size(), '#');
        Midline_Texts(n, m, s.U_Ref, s.U, s.V, s.T, v, t, u);
        ASSERT_EQ(v, want.v);
        ASSERT_EQ(t, want.t);
        ASSERT_EQ(u, want.u);
    }
}

} // namespace
