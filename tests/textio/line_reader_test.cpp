#include "textio/line_reader.hpp"

#include <cmath>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>

using textio::Input_Error;
using textio::Line_Source;

namespace {

// A file source over the given bytes.
struct Text_Source {
    std::string bytes;
    Line_Source src;
    explicit Text_Source(std::string text) : bytes(std::move(text)) {
        std::FILE* f = bytes.empty() ? std::fopen("/dev/null", "rb")
                                     : fmemopen(bytes.data(), bytes.size(), "rb");
        src = Line_Source{f, "params.txt"};
    }
    ~Text_Source() { textio::Close_Source(src); }
};

std::string Error_Of(const std::function<void()>& read) {
    try {
        read();
    } catch (const Input_Error& e) {
        return e.what();
    }
    return "no error";
}

TEST(LineReader, PassesOverEmptyAndBlankLinesBeforeAValue) {
    Text_Source t("\n   \n\t\r\n  42  \n7\n");
    EXPECT_EQ(textio::Read_Integer(t.src, "n"), 42);
    EXPECT_EQ(t.src.line_number, 4);
    EXPECT_EQ(textio::Read_Integer(t.src, "m"), 7);
}

TEST(LineReader, TakesTheFirstItemAndIgnoresTheRestOfTheLine) {
    Text_Source t("40 60\n5\n0.71   Prandtl number\n1e4,comment\n2\t9\n");
    EXPECT_EQ(textio::Read_Integer(t.src, "n"), 40);
    EXPECT_EQ(textio::Read_Integer(t.src, "m"), 5); // the 60 is gone with its line
    EXPECT_EQ(textio::Read_Real(t.src, "Pr"), 0.71f);
    EXPECT_EQ(textio::Read_Real(t.src, "Ra"), 1e4f);
    EXPECT_EQ(textio::Read_Integer(t.src, "n"), 2);
}

TEST(LineReader, IntegerDecimalAndExponentFormsGiveTheSameValue) {
    Text_Source t("100\n100.\n100.0\n1e2\n1.0E+02\n+1.0d2\n0.1D3\n10000e-2\n");
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(textio::Read_Real(t.src, "Ra"), 100.0f) << "line " << k + 1;
}

TEST(LineReader, SignsAndShortForms) {
    Text_Source t("-0.5\n.25\n-.75\n5.\n-3\n");
    EXPECT_EQ(textio::Read_Real(t.src, "x"), -0.5f);
    EXPECT_EQ(textio::Read_Real(t.src, "x"), 0.25f);
    EXPECT_EQ(textio::Read_Real(t.src, "x"), -0.75f);
    EXPECT_EQ(textio::Read_Real(t.src, "x"), 5.0f);
    EXPECT_EQ(textio::Read_Integer(t.src, "n"), -3);
}

TEST(LineReader, RealsAreRoundedOnceFromTheDecimalText) {
    // 0.1 read directly as a float, not through a double.
    Text_Source t("0.1\n1.00000005960464477539062500001\n");
    EXPECT_EQ(textio::Read_Real(t.src, "x"), 0.1f);
    EXPECT_EQ(textio::Read_Real(t.src, "x"), std::nextafter(1.0f, 2.0f));
}

TEST(LineReader, WindowsLineEndsAndByteOrderMarkReadLikePlainText) {
    Text_Source t("\xEF\xBB\xBFlabel\r\n0.71\r\nlabel\r\n\r\n1e4\r\n");
    textio::Skip_Line(t.src, "label");
    EXPECT_EQ(textio::Read_Real(t.src, "Pr"), 0.71f);
    textio::Skip_Line(t.src, "label");
    EXPECT_EQ(textio::Read_Real(t.src, "Ra"), 1e4f);
}

TEST(LineReader, ReadOfNoValueConsumesExactlyOneLine) {
    Text_Source t("\n12\n");
    textio::Skip_Line(t.src, "label"); // the empty line
    EXPECT_EQ(textio::Read_Integer(t.src, "n"), 12);
    EXPECT_EQ(t.src.line_number, 2);
}

TEST(LineReader, LineWithoutFinalLineEndStillCounts) {
    Text_Source t("label\n0.6");
    textio::Skip_Line(t.src, "label");
    EXPECT_EQ(textio::Read_Real(t.src, "Tau_T"), 0.6f);
}

TEST(LineReader, MalformedNumbersNameTheQuantityAndTheLine) {
    {
        Text_Source t("label\nabc\n");
        textio::Skip_Line(t.src, "label");
        EXPECT_EQ(Error_Of([&] { textio::Read_Real(t.src, "Ra"); }),
                  "input error: Ra (params.txt line 2): \"abc\" is not a number");
    }
    for (const char* bad : {"1.5", "1e3", "abc", "4O", "--4", "+", "0x10"}) {
        Text_Source t(std::string(bad) + "\n");
        EXPECT_EQ(Error_Of([&] { textio::Read_Integer(t.src, "n"); }),
                  "input error: n (params.txt line 1): \"" + std::string(bad) +
                      "\" is not an integer");
    }
    for (const char* bad :
         {"nan", "inf", "-Infinity", "1.2.3", "1e", "e5", ".", "1e+", "0.71Pr", "0x1p3", "1,5"}) {
        Text_Source t(std::string(bad) + "\n");
        std::string err = Error_Of([&] { textio::Read_Real(t.src, "Pr"); });
        if (std::string(bad) == "1,5") {
            EXPECT_EQ(err, "no error"); // the comma ends the item: 1
            continue;
        }
        EXPECT_NE(err.find("is not a number"), std::string::npos) << bad << ": " << err;
    }
}

TEST(LineReader, NumbersOutOfRange) {
    Text_Source t("2147483648\n-2147483649\n1e39\n-3.5e38\n99999999999999999999999\n");
    EXPECT_EQ(
        Error_Of([&] { textio::Read_Integer(t.src, "n"); }),
        "input error: n (params.txt line 1): \"2147483648\" is outside the 32-bit integer range");
    EXPECT_NE(Error_Of([&] { textio::Read_Integer(t.src, "n"); }).find("outside the 32-bit"),
              std::string::npos);
    EXPECT_EQ(
        Error_Of([&] { textio::Read_Real(t.src, "Ra"); }),
        "input error: Ra (params.txt line 3): \"1e39\" is outside the single-precision range");
    EXPECT_NE(Error_Of([&] { textio::Read_Real(t.src, "Ra"); }).find("outside the single"),
              std::string::npos);
    EXPECT_NE(Error_Of([&] { textio::Read_Integer(t.src, "n"); }).find("outside the 32-bit"),
              std::string::npos);
}

TEST(LineReader, ExtremesInRangeAreAccepted) {
    Text_Source t("-2147483648\n3.4028234e38\n1e-50\n1.4e-45\n");
    EXPECT_EQ(textio::Read_Integer(t.src, "n"), -2147483647 - 1);
    EXPECT_EQ(textio::Read_Real(t.src, "x"), 3.4028234e38f);
    EXPECT_EQ(textio::Read_Real(t.src, "x"), 0.0f); // underflows to zero, as a float does
    EXPECT_EQ(textio::Read_Real(t.src, "x"), 1.4e-45f);
}

TEST(LineReader, EndOfInputIsAnError) {
    {
        Text_Source t("");
        EXPECT_EQ(Error_Of([&] { textio::Read_Real(t.src, "Pr"); }),
                  "input error: Pr (params.txt): the file is empty");
    }
    {
        Text_Source t("label\n\n  \n");
        textio::Skip_Line(t.src, "label");
        EXPECT_EQ(Error_Of([&] { textio::Read_Real(t.src, "Pr"); }),
                  "input error: Pr (params.txt): end of file after line 3");
        EXPECT_EQ(Error_Of([&] { textio::Skip_Line(t.src, "the label line of Ra"); }),
                  "input error: the label line of Ra (params.txt): end of file after line 3");
    }
}

TEST(LineReader, MessagesShowBadBytesSafelyAndShortly) {
    Text_Source t(std::string("\x01\xff\"x") + std::string(100, 'z') + "\n");
    std::string err = Error_Of([&] { textio::Read_Real(t.src, "Pr"); });
    EXPECT_EQ(err, "input error: Pr (params.txt line 1): \"\\x01\\xff\\x22x" +
                       std::string(36, 'z') + "...\" is not a number");
}

TEST(LineReader, LeadingCommaIsNoNumber) {
    Text_Source t(",5\n");
    EXPECT_EQ(Error_Of([&] { textio::Read_Integer(t.src, "n"); }),
              "input error: n (params.txt line 1): no number before \",\"");
}

TEST(LineReader, VeryLongLineIsReadWhole) {
    std::string line = "12 " + std::string(1 << 20, 'c') + "\n34\n";
    Text_Source t(line);
    EXPECT_EQ(textio::Read_Integer(t.src, "n"), 12);
    EXPECT_EQ(textio::Read_Integer(t.src, "m"), 34);
}

TEST(LineReader, LineLongerThanWhatIsKeptIsCutAndItsRestPassedOver) {
    // The value first, then more than the kept part of the line: the rest,
    // digits included, must not leak into the next read.
    std::string rest(textio::Max_Line_Kept + 100, '9');
    Text_Source t("12 " + rest + "\n34\n");
    EXPECT_EQ(textio::Read_Integer(t.src, "n"), 12);
    EXPECT_TRUE(t.src.line_cut);
    EXPECT_EQ(textio::Read_Integer(t.src, "m"), 34);
    EXPECT_EQ(t.src.line_number, 2);
}

TEST(LineReader, LabelLongerThanWhatIsKeptIsOneLine) {
    Text_Source t(std::string(textio::Max_Line_Kept * 2 + 5, 'L') + "\n0.71\n");
    textio::Skip_Line(t.src, "label");
    EXPECT_EQ(textio::Read_Real(t.src, "Pr"), 0.71f);
    EXPECT_EQ(t.src.line_number, 2);
}

TEST(LineReader, LineExactlyAsLongAsWhatIsKeptIsWhole) {
    std::string digits(textio::Max_Line_Kept, '0');
    digits.back() = '7';
    Text_Source t(digits + "\n8\n");
    EXPECT_EQ(textio::Read_Integer(t.src, "n"), 7);
    EXPECT_FALSE(t.src.line_cut);
    EXPECT_EQ(textio::Read_Integer(t.src, "m"), 8);
}

TEST(LineReader, ItemLongerThanWhatIsKeptIsAnError) {
    // Endless input without a line end (a device, a binary file) must end
    // with an error, not fill the memory.
    Text_Source t(std::string(textio::Max_Line_Kept + 10, '\0'));
    std::string shown;
    for (int k = 0; k < 40; ++k)
        shown += "\\x00";
    EXPECT_EQ(Error_Of([&] { textio::Read_Integer(t.src, "n"); }),
              "input error: n (params.txt line 1): the item \"" + shown + "...\" is longer than " +
                  std::to_string(textio::Max_Line_Kept) + " characters");
    Text_Source blanks(std::string(textio::Max_Line_Kept + 10, ' ') + "5\n");
    EXPECT_EQ(Error_Of([&] { textio::Read_Integer(blanks.src, "n"); }),
              "input error: n (params.txt line 1): no item in the first " +
                  std::to_string(textio::Max_Line_Kept) + " characters of the line");
}

TEST(LineReader, ByteOrderMarkOnlyAtTheStartOfTheFirstLine) {
    Text_Source t("\xEF\xBB\xBF"
                  "6\n\xEF\xBB\xBF"
                  "5\n");
    EXPECT_EQ(textio::Read_Integer(t.src, "n"), 6);
    EXPECT_EQ(Error_Of([&] { textio::Read_Integer(t.src, "m"); }),
              "input error: m (params.txt line 2): \"\\xef\\xbb\\xbf5\" is not an integer");
}

TEST(LineReader, ReadErrorIsReported) {
    // A directory opens for reading but cannot be read.
    Line_Source src = textio::Open_File_Source("/");
    EXPECT_EQ(Error_Of([&] { textio::Skip_Line(src, "the label line of Pr"); }),
              "input error: the label line of Pr (/): cannot read: Is a directory");
    textio::Close_Source(src);
}

} // namespace
