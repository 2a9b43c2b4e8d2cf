#include "textio/real_text.hpp"

#include "support/slow_real_text.hpp"
#include "textio/record.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Text(float x) {
    char buf[32];
    int len = textio::Real_Text(x, buf);
    return std::string(buf, std::size_t(len));
}

std::string Int_Text(std::int32_t v) {
    char buf[16];
    int len = textio::Integer_Text(v, buf);
    return std::string(buf, std::size_t(len));
}

TEST(RealText, FixedFormFromOneUpToTenMillion) {
    EXPECT_EQ(Text(1.0f), "1.000000");
    EXPECT_EQ(Text(12.5f), "12.500000");
    EXPECT_EQ(Text(123.456f), "123.456000");
    EXPECT_EQ(Text(123456.78f), "123456.800000");
    EXPECT_EQ(Text(1234567.0f), "1234567.000000");
    EXPECT_EQ(Text(9999999.0f), "9999999.000000");
    EXPECT_EQ(Text(-1234567.0f), "-1234567.000000"); // the longest text
    EXPECT_EQ(Text(4.5f), "4.500000");
    EXPECT_EQ(Text(2.2f), "2.200000");
}

TEST(RealText, ExponentFormBelowOneAndFromTenMillion) {
    EXPECT_EQ(Text(0.5f), "5.000000E-01");
    EXPECT_EQ(Text(0.999999f), "9.999990E-01");
    EXPECT_EQ(Text(1.0e7f), "1.000000E+07");
    EXPECT_EQ(Text(1.0e-30f), "1.000000E-30");
    EXPECT_EQ(Text(0.1f), "1.000000E-01");
    EXPECT_EQ(Text(-0.1f), "-1.000000E-01");
    EXPECT_EQ(Text(-0.25f), "-2.500000E-01");
    EXPECT_EQ(Text(1.0f / 3.0f), "3.333333E-01");
    EXPECT_EQ(Text(3.4028235e38f), "3.402823E+38");
    EXPECT_EQ(Text(std::bit_cast<float>(1u)), "1.401298E-45"); // smallest denormal
    EXPECT_EQ(Text(1e-7f), "1.000000E-07");
}

TEST(RealText, ZeroOfEitherSignIsWrittenAsZero) {
    EXPECT_EQ(Text(0.0f), "0.000000E+00");
    EXPECT_EQ(Text(-0.0f), "0.000000E+00");
}

TEST(RealText, ExactTieAtTheEighthDigitRoundsUp) {
    // 2^-11 = 4.8828125E-04 exactly: half up, not half even.
    EXPECT_EQ(Text(std::ldexp(1.0f, -11)), "4.882813E-04");
    EXPECT_EQ(Text(123456.75f), "123456.800000");
    EXPECT_EQ(Text(1234567.5f), "1234568.000000");
    EXPECT_EQ(Text(-1234567.5f), "-1234568.000000");
}

TEST(RealText, CarryOutOfTheFirstDigitRaisesTheExponent) {
    // 9.9999995E-33 rounds to 1.000000E-32. (No float in the fixed-form range
    // lies close enough below a power of ten to carry.)
    EXPECT_EQ(Text(0x1.9f623cp-107f), "1.000000E-32");
    EXPECT_EQ(Text(-0x1.9f623cp-107f), "-1.000000E-32");
    EXPECT_EQ(Text(0x1.1039d4p-123f), "1.000000E-37");
}

TEST(RealText, FormIsJudgedOnTheValueBeforeRounding) {
    // Just below one: exponent form even when the digits round to 1.
    float below_one = std::nextafter(1.0f, 0.0f); // 0.99999994
    EXPECT_EQ(Text(below_one), "9.999999E-01");
    EXPECT_EQ(Text(0.99999997f), slow::Real_Text(0.99999997f));
}

TEST(RealText, AgreesWithTheSlowFormatterOnEveryBinade) {
    std::mt19937 rng(12345);
    std::uniform_int_distribution<std::uint32_t> mantissa(0, 0x7fffff);
    for (std::uint32_t biased = 0; biased < 255; ++biased) {
        for (int trial = 0; trial < 300; ++trial) {
            std::uint32_t bits = (biased << 23) | mantissa(rng);
            if (trial < 2)
                bits = (biased << 23) | (trial == 0 ? 0u : 0x7fffffu);
            for (std::uint32_t sign : {0u, 0x80000000u}) {
                float x = std::bit_cast<float>(bits | sign);
                ASSERT_EQ(Text(x), slow::Real_Text(x)) << std::hexfloat << x;
            }
        }
    }
}

// The fast path covers 1e-10 <= |x| < 1e7 through an exact 64-bit product;
// the 128-bit and (below 1e-37) 192-bit paths cover the rest. Their edges are
// the powers of ten, where the first guess of the exponent is off by one.
TEST(RealText, AgreesWithTheSlowFormatterAroundEveryPowerOfTen) {
    for (int k = -45; k <= 38; ++k) {
        std::string decimal = "1e" + std::to_string(k);
        float p = std::strtof(decimal.c_str(), nullptr);
        std::uint32_t bits = std::bit_cast<std::uint32_t>(p);
        for (std::uint32_t b = bits - 12; b <= bits + 12; ++b) {
            if (b == 0 || b > 0x7f7fffffu)
                continue;
            for (std::uint32_t sign : {0u, 0x80000000u}) {
                float x = std::bit_cast<float>(b | sign);
                ASSERT_EQ(Text(x), slow::Real_Text(x)) << std::hexfloat << x;
            }
        }
    }
}

TEST(RealText, AgreesWithTheSlowFormatterAcrossTheValuesOfARun) {
    // Log-uniform magnitudes from 1e-12 to 1e8, across the edges of the
    // fast path.
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> decade(-12.0, 8.0);
    for (int trial = 0; trial < 40000; ++trial) {
        float x = float(std::pow(10.0, decade(rng)));
        if (trial % 2)
            x = -x;
        ASSERT_EQ(Text(x), slow::Real_Text(x)) << std::hexfloat << x;
    }
}

TEST(RealText, ExactTiesRoundUpOnEveryPath) {
    // Exactly 8 significant digits ending in 5: half up, never half even.
    EXPECT_EQ(Text(0.0029296875f), "2.929688E-03"); // 3 * 2^-10, fast path
    EXPECT_EQ(Text(0.0087890625f), "8.789063E-03"); // 9 * 2^-10, odd 7th digit
    EXPECT_EQ(Text(8388607.5f), "8388608.000000");  // fixed form, fast path
    EXPECT_EQ(Text(12345675.0f), "1.234568E+07");   // from 1e7 up: the wide path
    EXPECT_EQ(Text(10000005.0f), "1.000001E+07");
    EXPECT_EQ(Text(-16777205.0f), "-1.677721E+07");
    // One step below a tie rounds down.
    EXPECT_EQ(Text(std::nextafter(0.0029296875f, 0.0f)), "2.929687E-03");
    EXPECT_EQ(Text(12345674.0f), "1.234567E+07");
    // Every float with such an expansion is K * 2^-s with K * 5^s of 8
    // digits (s <= 11, so it lies from 1e-4 up), or an odd integer of 8
    // digits below 2^24.
    std::mt19937 rng(5);
    std::int64_t pow5 = 1;
    for (int s = 1; s <= 11; ++s) {
        pow5 *= 5;
        std::uniform_int_distribution<std::int64_t> pick((10000000 + pow5 - 1) / pow5,
                                                         (100000000 - 1) / pow5);
        for (int trial = 0; trial < 300; ++trial) {
            std::int64_t K = pick(rng) | 1;
            if (K * pow5 >= 100000000 || K >= (1 << 24))
                continue;
            float x = std::ldexp(float(K), -s);
            ASSERT_EQ(Text(x), slow::Real_Text(x)) << std::hexfloat << x;
        }
    }
    std::uniform_int_distribution<std::int32_t> odd(5000000, 8388607);
    for (int trial = 0; trial < 300; ++trial) {
        float x = float(2 * odd(rng) + 1);
        ASSERT_EQ(Text(x), slow::Real_Text(x)) << std::hexfloat << x;
    }
}

TEST(RealText, TextFitsItsField) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 100000; ++trial) {
        std::uint32_t bits = rng() & 0xff7fffffu; // finite
        std::string t = Text(std::bit_cast<float>(bits));
        ASSERT_GE(t.size(), 8u);
        ASSERT_LE(t.size(), std::size_t(textio::Real_Width));
    }
}

std::string Slot(float x) {
    char slot[textio::Real_Slot_Width];
    textio::Real_Slot(x, slot);
    return std::string(slot, sizeof slot);
}

// The slot is what the record writer puts on the line for a real that
// starts a record or follows a real.
TEST(RealSlot, IsTheRealAsTheRecordWriterLaysItOut) {
    std::vector<float> values = {0.0f,
                                 -0.0f,
                                 1.0f,
                                 -1234567.0f,
                                 9999999.0f,
                                 1.0e7f,
                                 0.1f,
                                 -0.1f,
                                 3.4028235e38f,
                                 1.17549435e-38f,
                                 std::bit_cast<float>(1u),
                                 2.2f,
                                 0.99999994f};
    std::mt19937 rng(77);
    for (int trial = 0; trial < 20000; ++trial) {
        std::uint32_t bits = rng();
        if ((bits & 0x7f800000u) != 0x7f800000u)
            values.push_back(std::bit_cast<float>(bits));
    }
    for (float x : values) {
        std::string first, second;
        textio::Record(textio::File_Destination(first)).real(x).end();
        textio::Record(textio::File_Destination(second)).real(0.5f).real(x).end();
        ASSERT_EQ(Slot(x) + "\r\n", first) << std::hexfloat << x;
        ASSERT_EQ(Slot(x) + "\r\n", second.substr(16)) << std::hexfloat << x;
    }
}

TEST(RealSlot, TextIsRightAlignedBehindBlanks) {
    EXPECT_EQ(Slot(0.0f), "    0.000000E+00");
    EXPECT_EQ(Slot(-1234567.0f), " -1234567.000000");
    EXPECT_EQ(Slot(1.0f), "        1.000000");
    EXPECT_EQ(Slot(-2.5e-5f), "   -2.500000E-05");
}

// Several reals at a time give the bytes of Real_Slot for each, whatever the
// mix of forms, signs and values outside the fast range in one batch, and
// whatever the count.
std::string Slots(const std::vector<float>& x) {
    std::string out(x.size() * textio::Real_Slot_Width, '#');
    textio::Real_Slots(x.data(), int(x.size()), out.data());
    return out;
}

std::string One_By_One(const std::vector<float>& x) {
    std::string out;
    for (float v : x)
        out += Slot(v);
    return out;
}

TEST(RealSlots, SameBytesAsOneAtATime) {
    // Edges of the forms and of the fast range, carries, ties, and values
    // outside it.
    std::vector<float> edges = {0.0f,
                                -0.0f,
                                1.0f,
                                0.99999994f,
                                9.9999995f,
                                9999999.0f,
                                1.0e7f,
                                1.0e-10f,
                                9.9999997e-11f,
                                0.1f,
                                0.099999994f,
                                8.0078125f,
                                -2.5e-5f,
                                std::bit_cast<float>(1u),
                                1.17549435e-38f,
                                3.4028235e38f,
                                INFINITY,
                                -INFINITY,
                                NAN,
                                123456.5f,
                                0.5f};
    for (int q = -12; q <= 8; ++q) { // three floats either side of each power of ten
        float below = std::pow(10.0f, float(q)), above = below;
        for (int step = 0; step < 3; ++step) {
            below = std::nextafter(below, 0.0f);
            above = std::nextafter(above, INFINITY);
            edges.insert(edges.end(), {below, above});
        }
        edges.push_back(std::pow(10.0f, float(q)));
    }
    std::vector<float> all = edges;
    for (float v : edges)
        all.push_back(-v);
    ASSERT_EQ(Slots(all), One_By_One(all));
    // Every count, so that each tail length meets each position of a value.
    for (std::size_t count = 0; count <= 19; ++count) {
        for (std::size_t at = 0; at + count <= all.size(); at += 7) {
            std::vector<float> part(all.begin() + long(at), all.begin() + long(at + count));
            ASSERT_EQ(Slots(part), One_By_One(part)) << count << " from " << at;
        }
    }
}

TEST(RealSlots, SameBytesOverTheFastRangeAndAnyBits) {
    std::vector<float> x;
    // Every 1021st float from below 1e-10 to above 1e7, both signs.
    for (std::uint32_t bits = 0x2e000000u; bits < 0x4c000000u; bits += 1021) {
        x.push_back(std::bit_cast<float>(bits));
        x.push_back(-std::bit_cast<float>(bits));
    }
    std::mt19937 rng(2024);
    for (int trial = 0; trial < 200000; ++trial)
        x.push_back(std::bit_cast<float>(std::uint32_t(rng())));
    std::string got = Slots(x), want = One_By_One(x);
    for (std::size_t i = 0; i < x.size(); ++i)
        ASSERT_EQ(got.substr(16 * i, 16), want.substr(16 * i, 16)) << std::hexfloat << x[i];
}

TEST(IntegerText, DigitsWithSignOnlyWhenNegative) {
    EXPECT_EQ(Int_Text(0), "0");
    EXPECT_EQ(Int_Text(-5), "-5");
    EXPECT_EQ(Int_Text(101), "101");
    EXPECT_EQ(Int_Text(2147483647), "2147483647");
    EXPECT_EQ(Int_Text(-2147483647 - 1), "-2147483648");
}

} // namespace
