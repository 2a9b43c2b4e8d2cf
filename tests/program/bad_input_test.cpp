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
        {"BothAnswersOnOneLine", Good, "64 64\n\n",
         "input error: m (console): end of input; the line of n held a second number, 64: give n "
         "and m on two lines"},
        {"TextAfterNThenEnd", Good, "10 x\n", "input error: m (console): end of input"},
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
        // A comma ends a number, as in "40,60": Pr is 0, and the message says why.
        {"DecimalComma", Parameter_File("0,71", "1e4", "1", "0", "0", "0.8"), "4\n4\n\n",
         "parameter error: Pr (Input_Parameters.Input line 2) = 0: the Prandtl number must be "
         "positive (the viscosity is Pr times the diffusivity); a comma ends a number, so "
         "\"0,71\" was read as 0: write a decimal point, 0.71"},
        // Physics the run cannot start from, named before any arithmetic.
        {"EqualWallTemperatures", Parameter_File("0.71", "1e4", "1", "1.0", "0", "0.8"), "4\n4\n\n",
         "parameter error: T_Hot (Input_Parameters.Input line 6) = 1 and T_Cold "
         "(Input_Parameters.Input line 8) = 1.0 are the same temperature: the walls must differ "
         "for a buoyancy force (its coefficient divides by T_Hot - T_Cold)"},
        {"ZeroDiffusivity", Parameter_File("0.71", "1e4", "1", "0", "0", "0.5"), "4\n4\n\n",
         "parameter error: Tau_T (Input_Parameters.Input line 12) = 0.5: Tau_T must be above "
         "0.5, for the thermal diffusivity (Tau_T - 0.5)/3 to be positive (0.55 to 1 is usual)"},
        {"TauBelowOneHalf", Parameter_File("0.71", "1e4", "1", "0", "0", "0.4"), "12\n8\n\n",
         "parameter error: Tau_T (Input_Parameters.Input line 12) = 0.4: Tau_T must be above "
         "0.5, for the thermal diffusivity (Tau_T - 0.5)/3 to be positive (0.55 to 1 is usual)"},
        {"ZeroPrandtl", Parameter_File("0", "1e4", "1", "0", "0", "0.8"), "4\n4\n\n",
         "parameter error: Pr (Input_Parameters.Input line 2) = 0: the Prandtl number must be "
         "positive (the viscosity is Pr times the diffusivity)"},
        {"NegativePrandtl", Parameter_File("-0.71", "1e4", "1", "0", "0", "0.8"), "4\n4\n\n",
         "parameter error: Pr (Input_Parameters.Input line 2) = -0.71: the Prandtl number must "
         "be positive (the viscosity is Pr times the diffusivity)"},
        {"ZeroRayleigh", Parameter_File("0.71", "0", "1", "0", "0", "0.8"), "4\n4\n\n",
         "parameter error: Ra (Input_Parameters.Input line 4) = 0: the Rayleigh number must be "
         "positive"},
        // Where an empty line shifted the reads, the line named is the one read.
        {"NegativeRayleighOneLineDown",
         Lines({"Pr", "0.71", "Ra", "", "-1e4", "x", "1", "y", "0", "z", "0", "w", "0.8"}),
         "4\n4\n\n",
         "parameter error: Ra (Input_Parameters.Input line 5) = -1e4: the Rayleigh number must "
         "be positive"},
        {"DerivedBeyondSinglePrecision", Parameter_File("3e38", "1e4", "1", "0", "0", "1e38"),
         "4\n4\n\n",
         "parameter error: Pr = 3e+38, Ra = 10000, T_Hot - T_Cold = 1, Tau_T = 1e+38 and m = 4 "
         "give Viscosity = 1e+76, beyond single precision; these parameters cannot be run"},
        // A real fault of a running step keeps its name, after the warning it earned.
        {"HugeRayleigh", Parameter_File("0.71", "1e30", "1", "0", "0", "0.8"), "12\n8\n\n",
         "warning: the reference velocity U_Ref = 1.05e+13 is 1.8e+13 times the lattice sound "
         "speed "
         "0.577, above 0.25 times it, where the compressibility error moves the mean Nusselt "
         "number by "
         "about 0.5 % (measured: 0.35 % at 0.2, 0.6 % at 0.3) and grows with the square of "
         "U_Ref; a larger m or a smaller Tau_T lowers it (no Tau_T above 0.5 on this grid)"
         "\nfloating-point error: invalid at step 1: the flow has blown up, as U_Ref = "
         "1.05e+13 (1.8e+13 times the lattice sound speed, warned above) let it; no grid the "
         "program takes (m up to 1290) keeps U_Ref below 0.25 times the sound speed and Tau_F "
         "at 0.51 or more at this Ra and Pr; a smaller Ra does"},
        // The buoyancy force below single-precision resolution: refused before
        // the pause, with the grid that still resolves it.
        {"BuoyancyLostToRounding", Parameter_File("0.71", "1e4", "1", "0", "0", "0.6"),
         "800\n800\necho ran-at-the-pause > pause.txt\n",
         "parameter error: the buoyancy force is below single-precision resolution on this grid "
         "(m = 800, Ra = 10000, Pr = 0.71, Tau_T = 0.6): its largest term per step, 3 W(k) "
         "G_Beta |T - T_Ref| with G_Beta = 1.54e-08 and |T - T_Ref| = 0.5, is 0.34 units in the "
         "last place of the distributions it is added to, below half a unit, so rounding "
         "removes it and the fluid would never move; with these parameters m = 706 is the "
         "largest grid that resolves it at all, m = 152 the largest that keeps its rounding "
         "error below 1 %"},
        {"NoGridResolvesTheBuoyancy", Parameter_File("0.71", "1e-30", "1", "0", "0", "0.8"),
         "3\n3\n\n",
         "parameter error: the buoyancy force is below single-precision resolution on this grid "
         "(m = 3, Ra = 1e-30, Pr = 0.71, Tau_T = 0.8): its largest term per step, 3 W(k) G_Beta "
         "|T - T_Ref| with G_Beta = 2.63e-34 and |T - T_Ref| = 0.5, is 5.9e-27 units in the "
         "last place of the distributions it is added to, below half a unit, so rounding "
         "removes it and the fluid would never move; no grid resolves it with these "
         "parameters: a larger Ra does"},
        // Resolved only where |T - T_Ref| is near its largest: starting at T_Ref,
        // the fluid has not moved by the first report, which writes nothing.
        {"FluidNeverMoves", Parameter_File("0.71", "0.233", "1", "0", "0.5", "0.6"), "20\n20\n\n",
         "warning: the buoyancy force is barely resolved in single precision on this grid (m = "
         "20): its largest term per step, 3 W(k) G_Beta |T - T_Ref| with G_Beta = 2.3e-08 and "
         "|T - T_Ref| = 0.5, is 0.51 units in the last place of the distributions it is added "
         "to, so rounding changes it by up to 97 % (more where T is nearer T_Ref); m = 4 or "
         "less keeps that below 1 %\nrun error: the fluid has not moved: the velocity is zero "
         "on every node at step 50, the first report, so there is no solution to write; the "
         "buoyancy force G_Beta (T - T_Ref), with G_Beta = 2.3e-08 and T_Ref = 0.5, was too "
         "small against the rounding of the distributions to move it; nothing was written; a "
         "larger Ra or a smaller m gives it more weight"},
        // Wall temperatures a few units in the last place apart: the temperature
        // residual meets the stop on the first step, before the flow could start.
        {"StopBeforeTheFluidMoves",
         Parameter_File("0.71", "1e2", "0.50000006", "0.49999997", "0.5", "0.8"), "16\n16\n\n",
         "run error: the fluid has not moved: the velocity is zero on every node at step 1, "
         "where the temperature residual 3.23e-08 already meets the stop, so there is no "
         "solution to write; the temperatures change too little against their own size (T_Hot "
         "= 0.50000006, T_Cold = 0.49999997); nothing was written; temperatures measured from "
         "nearer zero (T_Cold = 0, T_Hot = 1, say) give the same flow and a residual that waits "
         "for it"},
        // On a grid 2 wide the one fluid column lies midway between the walls:
        // started at T_Ref it stays there, with no buoyancy to move it.
        {"FluidHeldAtTheMeanTemperature", Parameter_File("0.71", "100", "1", "0", "0.5", "0.6"),
         "2\n2\n\n",
         "run error: the fluid has not moved: the velocity is zero on every node at step 2, "
         "where the temperature residual 2.67e-08 already meets the stop, so there is no "
         "solution to write; every fluid node has stayed at T_Ref = 0.5, the mean of the wall "
         "temperatures, where the buoyancy force is zero: on a grid 2 wide the one fluid column "
         "lies midway between the walls, where conduction holds a fluid started at T_Ref; "
         "nothing was written; a grid at least 3 wide, or a T_Init other than T_Ref, sets it "
         "moving"},
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
    EXPECT_EQ(run.Stray_Files(), 5); // no temporary file, no command run at the pause
}

INSTANTIATE_TEST_SUITE_P(Table, BadInput, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Bad_Case>& info) {
                             return info.param.name;
                         });

// Doubtful input that a run can still go on from: warnings on standard
// error, before the pause, and the run to its end.
struct Warned_Case {
    const char* name;
    std::string parameters, console, warnings;
};

void PrintTo(const Warned_Case& c, std::ostream* os) {
    *os << c.name;
}

class WarnedInput : public testing::TestWithParam<Warned_Case> {};

TEST_P(WarnedInput, SaysSoAndGoesOn) {
    const Warned_Case& c = GetParam();
    Program_Run run(&c.parameters);
    ASSERT_EQ(run.Start(c.console), 0) << run.err;
    EXPECT_EQ(program::Without_Nu_Note(run.err), c.warnings + "\n");
    const std::string closing = "Thanks For Using This Code.\r\n\r\n";
    EXPECT_EQ(run.out.substr(run.out.size() - closing.size()), closing);
}

// One-column grids end after one step (both columns are walls).
INSTANTIATE_TEST_SUITE_P(
    Table, WarnedInput,
    testing::Values(
        Warned_Case{
            "SecondNumberOnAValueLine", Parameter_File("0.71", "10 000", "1", "0", "0", "0.8"),
            "1\n4\n\n",
            "warning: Ra (Input_Parameters.Input line 4): the value is 10, the first number "
            "of the line; the rest of the line, \"000\", is ignored (a number is written "
            "without blanks)"},
        Warned_Case{"DecimalComma", Parameter_File("0.71", "1e4", "1", "0", "0,5", "0.8"),
                    "1\n4\n\n",
                    "warning: T_Init (Input_Parameters.Input line 10): a comma ends a number, so "
                    "\"0,5\" is read as 0 and the rest of the line is ignored; write a decimal "
                    "point, 0.5"},
        Warned_Case{"ThousandsSeparators",
                    Parameter_File("0.71", "1,000,000", "1", "0", "0", "0.8"), "1\n4\n\n",
                    "warning: Ra (Input_Parameters.Input line 4): a comma ends a number, so "
                    "\"1,000,000\" is read as 1 and the rest of the line is ignored; write it "
                    "without commas, 1000000"},
        Warned_Case{"DecimalOrThousands", Parameter_File("0.71", "10,000", "1", "0", "0", "0.8"),
                    "1\n4\n\n",
                    "warning: Ra (Input_Parameters.Input line 4): a comma ends a number, so "
                    "\"10,000\" is read as 10 and the rest of the line is ignored; write 10.000 "
                    "with a decimal point, or 10000 if the comma separates thousands"},
        Warned_Case{
            "FastFlowAndLittleViscosity", Parameter_File("0.71", "3e4", "1", "0", "0", "0.51"),
            "3\n3\n\n",
            "warning: the reference velocity U_Ref = 0.162 is 0.28 times the lattice sound "
            "speed 0.577, above 0.25 times it, where the compressibility error moves the mean "
            "Nusselt number by about 0.5 % (measured: 0.35 % at 0.2, 0.6 % at 0.3) and "
            "grows with the square of U_Ref; a larger m or a smaller Tau_T lowers it "
            "(Tau_T 0.5089 or less on this grid)\nwarning: the "
            "flow relaxation time Tau_F = 0.5071 (from Pr = 0.71 and Tau_T = 0.51) is "
            "below 0.51: the flow step may be unstable; a larger Tau_T raises it (Tau_T "
            "0.5141 or more)"},
        Warned_Case{"BarelyResolvedBuoyancy", Parameter_File("0.71", "0.002", "1", "0", "0", "0.8"),
                    "3\n3\n\n",
                    "warning: the buoyancy force is barely resolved in single precision on this "
                    "grid (m = 3): its largest term per step, 3 W(k) G_Beta |T - T_Ref| with "
                    "G_Beta = 5.26e-07 and |T - T_Ref| = 0.5, is 12 units in the last place of "
                    "the distributions it is added to, so rounding changes it by up to 4.2 % (more "
                    "where T is nearer T_Ref); a larger Ra makes it finer"}),
    [](const testing::TestParamInfo<Warned_Case>& info) { return std::string(info.param.name); });

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
