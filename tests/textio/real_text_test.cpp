#include "textio/real_text.hpp"

#include "support/slow_real_text.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <random>
#include <string>

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

TEST(RealText, TextFitsItsField) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 100000; ++trial) {
        std::uint32_t bits = rng() & 0xff7fffffu; // finite
        std::string t = Text(std::bit_cast<float>(bits));
        ASSERT_GE(t.size(), 8u);
        ASSERT_LE(t.size(), std::size_t(textio::Real_Width));
    }
}

TEST(IntegerText, DigitsWithSignOnlyWhenNegative) {
    EXPECT_EQ(Int_Text(0), "0");
    EXPECT_EQ(Int_Text(-5), "-5");
    EXPECT_EQ(Int_Text(101), "101");
    EXPECT_EQ(Int_Text(2147483647), "2147483647");
    EXPECT_EQ(Int_Text(-2147483647 - 1), "-2147483648");
}

} // namespace
