// Bad input of every kind, each run end to end: the exit status, the one-line
// message, and the result files of an earlier run left as they were.
#include "support/program_run.hpp"

#include <gtest/gtest.h>

using program::Parameter_File;
using program::Program_Run;

namespace {

const std::string Good = Parameter_File("0.71", "1e4", "1", "0", "0.5", "0.8");

struct Bad_Case {
    std::string name;
    std::string parameters; // "-" for no parameter file, "<dir>" for a directory in its place
    std::string console;
    std::string message; // the whole of standard error, without its line end
};

// Keeps test names short in the listings: the inputs can be megabytes.
void PrintTo(const Bad_Case& c, std::ostream* os) {
    *os << c.name;
}

std::string Lines(std::initializer_list<const char*> lines) {
    std::string s;
    for (const char* l : lines)
        s += std::string(l) + "\n";
    return s;
}

std::vector<Bad_Case> Cases() {
    const std::string mb(1 << 20, '7');
    std::vector<Bad_Case> c = {
        // Console answers.
        {"EmptyInput", Good, "", "input error: n (console): end of input"},
        {"EndOfInputBeforeM", Good, "10\n", "input error: m (console): end of input"},
        {"BlankLinesThenEnd", Good, "10\n  \n\n", "input error: m (console): end of input"},
        {"Letters", Good, "abc\n", "input error: n (console line 1): \"abc\" is not an integer"},
        {"Decimal", Good, "1.5\n", "input error: n (console line 1): \"1.5\" is not an integer"},
        {"Negative", Good, "-3\n",
         "input error: n (console line 1): -3 is out of range: n must be from 1 to 2147483646"},
        {"Zero", Good, "0\n",
         "input error: n (console line 1): 0 is out of range: n must be from 1 to 2147483646"},
        {"ZeroM", Good, "5\n0\n",
         "input error: m (console line 2): 0 is out of range: m must be from 1 to 1290"},
        {"TooBigForAnInteger", Good, "2147483648\n",
         "input error: n (console line 1): \"2147483648\" is outside the 32-bit integer range"},
        {"MCubedTooBig", Good, "10\n1291\n",
         "input error: m (console line 2): 1291 is out of range: m must be from 1 to 1290"},
        {"CommaJoinsNoValues", Good, "40,60\n,5\n",
         "input error: m (console line 2): no number before \",\""},
        {"MegabyteOfDigits", Good, mb + "\n",
         "input error: n (console line 1): \"" + mb.substr(0, 40) +
             "...\" is outside the 32-bit integer range"},
        {"TrailingLetters", Good, "5abc\n",
         "input error: n (console line 1): \"5abc\" is not an integer"},
        {"BinaryOnTheConsole", Good,
         std::string("\xff\xfe\x00"
                     "5\n",
                     5),
         "input error: n (console line 1): \"\\xff\\xfe\\x005\" is not an integer"},
        {"EndlessLineOnTheConsole", Good, std::string(5 << 20, '\0'), ""}, // checked below
        {"TooBigForThisMachine", Good, "2147483646\n1290\n", ""},          // message checked below
        // The parameter file.
        {"MissingFile", "-", "4\n4\n\n",
         "input error: cannot open Input_Parameters.Input: No such file or directory"},
        {"FileIsADirectory", "<dir>", "4\n4\n\n",
         "input error: the label line of Pr (Input_Parameters.Input): cannot read: Is a "
         "directory"},
        {"EmptyFile", "", "4\n4\n\n",
         "input error: the label line of Pr (Input_Parameters.Input): the file is empty"},
        {"ValueNotANumber",
         Lines({"Pr", "0.71", "Ra", "abc", "a", "1", "b", "0", "c", "0", "d", "0.8"}), "4\n4\n\n",
         "input error: Ra (Input_Parameters.Input line 4): \"abc\" is not a number"},
        {"NotANumberValue", Lines({"Pr", "nan", "Ra"}), "4\n4\n\n",
         "input error: Pr (Input_Parameters.Input line 2): \"nan\" is not a number"},
        {"InfiniteValue", Lines({"Pr", "0.71", "Ra", "inf"}), "4\n4\n\n",
         "input error: Ra (Input_Parameters.Input line 4): \"inf\" is not a number"},
        {"OutOfSinglePrecision", Lines({"Pr", "0.71", "Ra", "1e39"}), "4\n4\n\n",
         "input error: Ra (Input_Parameters.Input line 4): \"1e39\" is outside the "
         "single-precision range"},
        {"EmptyValueLineShiftsTheReads",
         Lines({"Pr", "0.71", "Ra", "", "Hot wall", "1", "b", "0", "c", "0", "d", "0.8"}),
         "4\n4\n\n", "input error: Ra (Input_Parameters.Input line 5): \"Hot\" is not a number"},
        {"MegabyteValueLine", "Pr\n" + std::string(1 << 20, 'x') + "\n", "4\n4\n\n",
         "input error: Pr (Input_Parameters.Input line 2): \"" + std::string(40, 'x') +
             "...\" is not a number"},
        {"BinaryGarbage",
         std::string("\x7f"
                     "ELF\x02\x01\n\x00\x01\x02\xff\n",
                     12),
         "4\n4\n\n",
         "input error: Pr (Input_Parameters.Input line 2): \"\\x00\\x01\\x02\\xff\" is not a "
         "number"},
        {"SavedAsUtf16",
         std::string("\xff\xfeP\0r\0\n\0"
                     "0\0.\0"
                     "7\0"
                     "1\0\n\0",
                     16),
         "4\n4\n\n",
         "input error: Pr (Input_Parameters.Input line 2): \"\\x000\\x00.\\x007\\x001\\x00\" is "
         "not "
         "a number"},
        {"CommentGluedToTheValue", Lines({"Pr", "0.71Prandtl"}), "4\n4\n\n",
         "input error: Pr (Input_Parameters.Input line 2): \"0.71Prandtl\" is not a number"},
        // A decimal comma separates two values, as in "40,60": Pr is 0.
        {"DecimalComma", Parameter_File("0,71", "1e4", "1", "0", "0", "0.8"), "4\n4\n\n",
         "floating-point error: divide by zero"},
        // Physics the run cannot start from.
        {"EqualWallTemperatures", Parameter_File("0.71", "1e4", "1", "1", "0", "0.8"), "4\n4\n\n",
         "floating-point error: divide by zero"},
        {"ZeroDiffusivity", Parameter_File("0.71", "1e4", "1", "0", "0", "0.5"), "4\n4\n\n",
         "floating-point error: invalid"},
        {"ZeroPrandtl", Parameter_File("0", "1e4", "1", "0", "0", "0.8"), "4\n4\n\n",
         "floating-point error: divide by zero"},
        // No buoyancy velocity scale: the first result record divides 0 by 0.
        {"ZeroRayleigh", Parameter_File("0.71", "0", "1", "0", "0", "0.8"), "4\n4\n\n",
         "floating-point error: invalid"},
        {"HugeRayleigh", Parameter_File("0.71", "1e30", "1", "0", "0", "0.8"), "12\n8\n\n",
         "floating-point error: invalid"},
        {"TauBelowOneHalf", Parameter_File("0.71", "1e4", "1", "0", "0", "0.4"), "12\n8\n\n",
         "floating-point error: overflow"},
        {"NegativeRayleigh", Parameter_File("0.71", "-1e4", "1", "0", "0", "0.8"), "4\n4\n\n",
         "parameter error: Ra = -10000 and Pr = 0.71 give a negative Ra * Diffusivity / "
         "Viscosity, so the reference velocity sqrt(Ra * Diffusivity / Viscosity) * Viscosity / "
         "m has no real value; Ra and Pr must not be negative"},
        {"NegativePrandtl", Parameter_File("-0.71", "1e4", "1", "0", "0", "0.8"), "4\n4\n\n",
         "parameter error: Ra = 10000 and Pr = -0.71 give a negative Ra * Diffusivity / "
         "Viscosity, so the reference velocity sqrt(Ra * Diffusivity / Viscosity) * Viscosity / "
         "m has no real value; Ra and Pr must not be negative"},
    };
    const char* labels[] = {
        "the label line of Pr",     "Pr",     "the label line of Ra",     "Ra",
        "the label line of T_Hot",  "T_Hot",  "the label line of T_Cold", "T_Cold",
        "the label line of T_Init", "T_Init", "the label line of Tau_T",  "Tau_T"};
    std::string full = Good;
    for (int lines = 1; lines <= 11; ++lines) {
        std::size_t cut = 0;
        for (int k = 0; k < lines; ++k)
            cut = full.find('\n', cut) + 1;
        c.push_back({"FileOf" + std::to_string(lines) + "Lines", full.substr(0, cut), "4\n4\n\n",
                     "input error: " + std::string(labels[lines]) +
                         " (Input_Parameters.Input): end of file after line " +
                         std::to_string(lines)});
    }
    return c;
}

class BadInput : public testing::TestWithParam<Bad_Case> {};

TEST_P(BadInput, EndsWithOneLineMessageAndLeavesTheFilesAlone) {
    const Bad_Case& bad = GetParam();
    bool given = bad.parameters != "-" && bad.parameters != "<dir>";
    Program_Run run(given ? &bad.parameters : nullptr);
    if (bad.parameters == "<dir>")
        program::fs::create_directory(run.dir / "Input_Parameters.Input");
    // The files of an earlier run in the folder.
    for (const char* f : program::Result_Files)
        program::Write_File(run.dir / f, std::string("earlier ") + f + "\r\n");

    EXPECT_EQ(run.Start(bad.console), 1);
    if (bad.name == "TooBigForThisMachine") {
        EXPECT_EQ(run.err.rfind("run-time error: a 2147483646 x 1290 grid needs ", 0), 0u)
            << run.err;
        EXPECT_NE(run.err.find(" of memory; "), std::string::npos); // figures: memory_test
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1);
    } else if (bad.name == "EndlessLineOnTheConsole") {
        std::string shown;
        for (int k = 0; k < 40; ++k)
            shown += "\\x00";
        EXPECT_EQ(run.err, "input error: n (console line 1): the item \"" + shown +
                               "...\" is longer than 4194304 characters\n");
    } else {
        EXPECT_EQ(run.err, bad.message + "\n");
    }
    for (const char* f : program::Result_Files)
        EXPECT_EQ(run.File(f), std::string("earlier ") + f + "\r\n") << f;
    EXPECT_EQ(run.Stray_Files(), 5); // no temporary file
}

INSTANTIATE_TEST_SUITE_P(Table, BadInput, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Bad_Case>& info) {
                             return info.param.name;
                         });

// Input that looks odd but is valid: the run goes as with the plain file.
struct Odd_Case {
    const char* name;
    std::string parameters;
    std::string console;
};

void PrintTo(const Odd_Case& c, std::ostream* os) {
    *os << c.name;
}

class OddInput : public testing::TestWithParam<Odd_Case> {};

TEST_P(OddInput, ReadsLikeThePlainFile) {
    Program_Run plain(&Good);
    ASSERT_EQ(plain.Start("6\n5\n\n"), 0) << plain.err;
    const Odd_Case& odd = GetParam();
    Program_Run run(&odd.parameters);
    ASSERT_EQ(run.Start(odd.console), 0) << run.err;
    EXPECT_EQ(run.out, plain.out);
    for (const char* f : program::Result_Files)
        EXPECT_EQ(run.File(f), plain.File(f)) << f;
}

std::string Windows(const std::string& s) {
    std::string out;
    for (char ch : s)
        out += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Table, OddInput,
    testing::Values(
        Odd_Case{"WindowsLineEnds", Windows(Good), "6\n5\n\n"},
        Odd_Case{"ConsoleWindowsLineEnds", Good, "6\r\n5\r\n\r\n"},
        Odd_Case{"ByteOrderMark", "\xEF\xBB\xBF" + Good, "6\n5\n\n"},
        Odd_Case{"ByteOrderMarkOnTheConsole", Good,
                 "\xEF\xBB\xBF"
                 "6\n5\n\n"},
        Odd_Case{"WindowsLineEndsAndByteOrderMark", "\xEF\xBB\xBF" + Windows(Good),
                 "\xEF\xBB\xBF"
                 "6\r\n5\r\n\r\n"},
        Odd_Case{"CommaAfterTheAnswer", Good, "6,60\n5\n\n"},
        Odd_Case{"SignsAndSpacing", Parameter_File(" +0.71", "+1.0e+4 ", "1.0", "-0", "5e-1", ".8"),
                 "+6\n  5\t\n\n"},
        Odd_Case{"TabsAndComments",
                 Lines({"Pr", "\t0.71\tPrandtl", "Ra", "  1.0E+04   Rayleigh number", "", "1.", "",
                        "0 cold", "", "0.5e0", "", "8.0d-1"}),
                 "6\n5\n\n"},
        Odd_Case{"EmptyLabelsAndTrailingLines",
                 Lines({"", "0.71", "", "1e4", "", "1", "", "0", "", "0.5", "", "0.8",
                        "junk after the file"}),
                 "6\n5\n\n"},
        Odd_Case{"MegabyteLabel",
                 std::string(1 << 20, 'L') + "\n" + Good.substr(Good.find('\n') + 1), "6\n5\n\n"},
        Odd_Case{"BlankLineBeforeAnswer", Good, "   \n6\n\t\n5\n\n"},
        Odd_Case{"MegabyteAfterAnswer", Good, "6 " + std::string(1 << 20, 'x') + "\n5\n\n"},
        Odd_Case{"EndOfInputAtThePause", Good, "6\n5\n"}),
    [](const testing::TestParamInfo<Odd_Case>& info) { return std::string(info.param.name); });

} // namespace
