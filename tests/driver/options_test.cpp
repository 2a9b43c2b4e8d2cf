// The command line: each option in both spellings, and the one-line error
// with the synopsis for anything the program cannot run from.
#include "driver/options.hpp"

#include <gtest/gtest.h>
#include <vector>

namespace {

Run_Options Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "cavity");
    return Parse_Options(int(args.size()), args.data());
}

std::string Error_Of(std::vector<const char*> args) {
    try {
        Parse(args);
    } catch (const Usage_Error& e) {
        return e.what();
    }
    return "";
}

TEST(Options, NoneGiveTheBareProgram) {
    Run_Options o = Parse({});
    EXPECT_FALSE(o.help || o.version);
    EXPECT_EQ(o.Settle_Tolerance, 0.0);
    EXPECT_EQ(o.Threads, 0);
    EXPECT_TRUE(o.Checkpoint_File.empty() && o.Start_From.empty());
}

TEST(Options, ValuesAfterABlankOrAnEqualsSign) {
    Run_Options o = Parse({"--settle", "1e-5", "--settle-window=4000", "--threads=3",
                           "--checkpoint", "run.ckpt", "--checkpoint-every", "500"});
    EXPECT_EQ(o.Settle_Tolerance, 1e-5);
    EXPECT_EQ(o.Settle_Window, 4000);
    EXPECT_EQ(o.Threads, 3);
    EXPECT_EQ(o.Checkpoint_File, "run.ckpt");
    EXPECT_EQ(o.Checkpoint_Every, 500);
    EXPECT_EQ(Parse({"--start-from=low.ckpt"}).Start_From, "low.ckpt");
    EXPECT_EQ(Parse({"--files-every", "700"}).Files_Every, 700);
    EXPECT_EQ(Parse({}).Files_Every, 0);
    EXPECT_TRUE(Parse({"--help"}).help);
    EXPECT_TRUE(Parse({"--version"}).version);
    EXPECT_EQ(Parse({}).Scheme_Used, Scheme{});
    EXPECT_TRUE(Parse({}).Residual_Stop);
    EXPECT_FALSE(Parse({"--no-residual-stop"}).Residual_Stop);
    for (const Named_Scheme& s : Schemes) {
        EXPECT_EQ(Parse({"--scheme", s.name}).Scheme_Used, s.scheme) << s.name;
        EXPECT_EQ(Scheme_Name(s.scheme), std::string(s.name));
    }
    const Scheme trt = Parse({"--scheme=bounce-back-trt"}).Scheme_Used;
    EXPECT_EQ(trt.insulated_walls, Insulated_Walls::Bounce_Back);
    EXPECT_EQ(trt.thermal, Relaxation::TRT);
    EXPECT_EQ(trt.flow, Relaxation::BGK);
}

TEST(Options, ErrorsNameTheOptionAndEndWithTheSynopsis) {
    const std::string tail = std::string("; ") + Synopsis;
    EXPECT_EQ(Error_Of({"--bogus"}), "usage error: unknown option \"--bogus\"" + tail);
    EXPECT_EQ(Error_Of({"64"}), "usage error: unknown option \"64\"" + tail);
    EXPECT_EQ(Error_Of({"--settle"}), "usage error: --settle needs a value" + tail);
    EXPECT_EQ(Error_Of({"--settle", "0"}),
              "usage error: --settle \"0\" is not a positive number" + tail);
    EXPECT_EQ(Error_Of({"--threads", "2.5"}),
              "usage error: --threads \"2.5\" is not a whole number from 1 to 4096" + tail);
    EXPECT_EQ(Error_Of({"--settle-window", "5000"}),
              "usage error: --settle-window needs --settle TOL" + tail);
    EXPECT_EQ(Error_Of({"--help=yes"}), "usage error: --help takes no value" + tail);
    EXPECT_EQ(Error_Of({"--scheme", "bounceback"}),
              "usage error: --scheme \"bounceback\" is not a scheme; the schemes are copy, "
              "bounce-back or bounce-back-trt" +
                  tail);
    EXPECT_EQ(Error_Of({"--checkpoint", "a", "--start-from", "a"})
                  .rfind("usage error: --start-from \"a\" is the --checkpoint file itself", 0),
              0u);
}

} // namespace
