#include "process/run_time.hpp"
#include "support/sanitizer.hpp"

#include <cfenv>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <xmmintrin.h>

namespace {

namespace fs = std::filesystem;

TEST(MemoryCheck, NeedsEveryByteTheRunHolds) {
    // 164 bytes a node (seven node fields and four saved ones, stream
    // function, text of "Result.dat"), F and G and their saved copies in rows
    // of nine planes padded to 16 floats, the four small files, seven padded
    // rows of nine planes a thread, the program itself.
    EXPECT_EQ(Bytes_Needed(1, 1), 4 * 164 + 4 * 4 * (9 * 16 * 2 + 16) +
                                      (66 + 18 + 2 * (17 + 34 * 2) + 17 + 34 * 2) + 7 * 9 * 4 * 16 +
                                      Fixed_Bytes);
    std::uint64_t nodes = 1001 * 501;
    EXPECT_EQ(Bytes_Needed(1000, 500, 2), nodes * 164 + 4 * 4 * (9 * 1008 * 501 + 16) + 66 + 18 +
                                              2 * (17 + 34 * 1001) + 17 + 34 * 501 +
                                              2 * 7 * 9 * 4 * 1008 + Fixed_Bytes);
    // Without padding, Bytes_A_Node a node and little else.
    EXPECT_NEAR(double(Bytes_Needed(1023, 1023) - Fixed_Bytes) / (1024 * 1024),
                double(Bytes_A_Node), 0.5);
}

TEST(MemoryCheck, WideGridCountsItsRows) {
    // One node high and very wide: the rows of the time step weigh more
    // than the fields.
    EXPECT_GT(Bytes_Needed(100000000, 1), std::uint64_t(200000000) * 308 + 100000000ull * 252);
}

TEST(MemoryCheck, LargestGridDoesNotWrapAround) {
    std::uint64_t nodes = std::uint64_t(2147483647) * 1291;
    EXPECT_GT(Bytes_Needed(2147483646, 1290, 4096), nodes * 308);
    EXPECT_NE(Memory_Shortage(2147483646, 1290, Bytes_Needed(2147483646, 1290), 25000000000u, 0),
              "");
}

TEST(MemoryCheck, GridThatFitsPasses) {
    EXPECT_EQ(Memory_Shortage(100, 100, 1000, 2000, 0), "");
    EXPECT_EQ(Memory_Shortage(100, 100, 2000, 2000, 0), "");
    EXPECT_EQ(Memory_Shortage(100, 100, 2000, 0, 0), ""); // nothing known: no check
}

TEST(MemoryCheck, MessageGivesBothFigures) {
    EXPECT_EQ(
        Memory_Shortage(60000, 1000, 15372000000u, 8300000000u, 0),
        "run-time error: a 60000 x 1000 grid needs 15.4 GB of memory; this machine has 8.3 GB");
}

TEST(MemoryCheck, ControlGroupLimitBelowThePhysicalMemoryCounts) {
    EXPECT_EQ(Memory_Shortage(2000, 1000, 530000000u, 25000000000u, 268435456u),
              "run-time error: a 2000 x 1000 grid needs 530.0 MB of memory; the memory limit of "
              "its control group is 268.4 MB");
    // A limit above the machine's memory is no limit.
    EXPECT_EQ(Memory_Shortage(2000, 1000, 530000000u, 25000000000u, 9223372036854771712u), "");
    EXPECT_NE(Memory_Shortage(2000, 1000, 30000000000u, 25000000000u, 9223372036854771712u)
                  .find("this machine has 25.0 GB"),
              std::string::npos);
}

// A scratch cgroup file system: files given by path relative to its root.
struct Fake_Cgroups {
    fs::path root;
    Fake_Cgroups() {
        std::string tmpl = (fs::temp_directory_path() / "cavity-cgroup-XXXXXX").string();
        root = ::mkdtemp(tmpl.data());
    }
    ~Fake_Cgroups() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    void Put(const std::string& rel, const std::string& text) {
        fs::create_directories((root / rel).parent_path());
        std::ofstream(root / rel) << text;
    }
    std::uint64_t Limit(const std::string& self) {
        return Control_Group_Limit(root.string(), self);
    }
    int Cores(const std::string& self) { return Control_Group_Cores(root.string(), self); }
};

TEST(ControlGroupLimit, VersionTwoTakesTheLowestAlongThePath) {
    Fake_Cgroups cg;
    cg.Put("memory.max", "max\n");
    cg.Put("a/memory.max", "2147483648\n");
    cg.Put("a/b/memory.max", "max\n");
    EXPECT_EQ(cg.Limit("0::/a/b\n"), 2147483648u);
    cg.Put("a/b/memory.max", "1073741824\n");
    EXPECT_EQ(cg.Limit("0::/a/b\n"), 1073741824u);
}

TEST(ControlGroupLimit, VersionTwoRootInAContainer) {
    Fake_Cgroups cg;
    cg.Put("memory.max", "536870912\n");
    EXPECT_EQ(cg.Limit("0::/\n"), 536870912u);
    // The group's own folder is not visible: the root's limit still holds.
    EXPECT_EQ(cg.Limit("0::/not/mounted/here\n"), 536870912u);
}

TEST(ControlGroupLimit, VersionOneMemoryController) {
    Fake_Cgroups cg;
    cg.Put("memory/memory.limit_in_bytes", "9223372036854771712\n");
    cg.Put("memory/job/memory.limit_in_bytes", "4294967296\n");
    EXPECT_EQ(cg.Limit("12:pids:/job\n4:memory:/job\n1:name=systemd:/\n"), 4294967296u);
    EXPECT_EQ(cg.Limit("5:cpu,memory:/job\n"), 4294967296u);
    EXPECT_EQ(cg.Limit("3:cpu,cpuacct:/job\n"), 0u); // no memory controller
}

TEST(ControlGroupLimit, NoneWithoutReadableLimits) {
    Fake_Cgroups cg;
    EXPECT_EQ(cg.Limit(""), 0u);
    EXPECT_EQ(cg.Limit("0::/a\n"), 0u);
    cg.Put("memory.max", "lots\n");
    EXPECT_EQ(cg.Limit("0::/\n"), 0u);
    cg.Put("memory.max", "");
    EXPECT_EQ(cg.Limit("0::/\n"), 0u);
    EXPECT_EQ(cg.Limit("garbage without colons\n"), 0u);
}

TEST(ControlGroupLimit, ThisMachineGivesAnAnswer) {
    // Whatever the machine, the real files read without error; a limit, if
    // any, is a positive number of bytes.
    std::uint64_t limit = Control_Group_Limit();
    EXPECT_TRUE(limit == 0 || limit >= 4096u) << limit;
    EXPECT_GT(Physical_Memory(), 0u);
}

TEST(AllocateField, FailureNamesTheArray) {
    Field f;
    // Past what any vector can hold, and past what the machine can give
    // (which the sanitizer's operator new does not report by throwing).
    for (std::size_t count : {std::size_t(1) << 61, std::size_t(1) << 45}) {
        if (program::Address_Sanitized && count == std::size_t(1) << 45)
            continue;
        try {
            Allocate_Field(f, count, "Feq");
            FAIL() << "allocated " << count;
        } catch (const Run_Time_Error& e) {
            EXPECT_EQ(std::string(e.what()), "run-time error: cannot allocate Feq (" +
                                                 std::to_string(count * 4) +
                                                 " bytes): out of memory");
        }
    }
    Allocate_Field(f, 10, "U");
    EXPECT_EQ(f, Field(10, 0.0f));
}

} // namespace

TEST(ThreadCount, OptionThenOpenMpConventionThenCores) {
    EXPECT_EQ(Thread_Count(3, "8", 2), 3);
    EXPECT_EQ(Thread_Count(0, "8", 2), 8);
    EXPECT_EQ(Thread_Count(0, " 4,2,1", 2), 4); // nested levels: the first
    EXPECT_EQ(Thread_Count(0, nullptr, 6), 6);
    for (const char* ignored : {"", "0", "-2", "two", "3x", "99999"})
        EXPECT_EQ(Thread_Count(0, ignored, 2), 2) << ignored;
    EXPECT_EQ(Thread_Count(0, nullptr, 0), 1);
    EXPECT_GE(Thread_Count(0), 1); // this machine
}

TEST(ThreadCount, ControlGroupQuotaInWholeCores) {
    Fake_Cgroups cg;
    cg.Put("cpu.max", "max 100000\n");
    cg.Put("a/cpu.max", "250000 100000\n"); // 2.5 cores: 3 threads
    cg.Put("a/b/cpu.max", "max 100000\n");
    EXPECT_EQ(cg.Cores("0::/a/b\n"), 3);
    cg.Put("a/b/cpu.max", "50000 100000\n");
    EXPECT_EQ(cg.Cores("0::/a/b\n"), 1);
    EXPECT_EQ(cg.Cores("0::/\n"), 0); // no quota
    cg.Put("cpu,cpuacct/job/cpu.cfs_quota_us", "400000\n");
    cg.Put("cpu,cpuacct/job/cpu.cfs_period_us", "100000\n");
    EXPECT_EQ(cg.Cores("4:cpu,cpuacct:/job\n2:memory:/job\n"), 4);
    cg.Put("cpu,cpuacct/job/cpu.cfs_quota_us", "-1\n");
    EXPECT_EQ(cg.Cores("4:cpu,cpuacct:/job\n"), 0);
}

namespace {

// A quotient and a product the compiler cannot work out beforehand.
float Quotient(float a, float b) {
    volatile float x = a, y = b;
    return x / y;
}
float Product(float a, float b) {
    volatile float x = a, y = b;
    return x * y;
}

// A caller without traps, with flush to zero, a flag raised and no SIGFPE
// handler gets each fault's kind, and all of that back after each call;
// three traps in a row, so the signal mask comes back too.
TEST(CatchTraps, KindOfTheFaultAndTheCallersEnvironmentBack) {
    std::fenv_t test_env;
    std::fegetenv(&test_env);
    struct sigaction test_action {};
    struct sigaction none {};
    none.sa_handler = SIG_DFL;
    sigaction(SIGFPE, &none, &test_action);
    fedisableexcept(FE_ALL_EXCEPT);
    _mm_setcsr(_mm_getcsr() | 0x8040u);
    std::feraiseexcept(FE_INEXACT);
    const unsigned caller_csr = _mm_getcsr();
    auto caller_back = [&](const char* what) {
        struct sigaction now {};
        sigaction(SIGFPE, nullptr, &now);
        EXPECT_EQ(now.sa_handler, SIG_DFL) << what;
        EXPECT_EQ(_mm_getcsr(), caller_csr) << what;
    };
    int went_on = 0;
    const std::pair<const char*, std::function<float()>> faults[] = {
        {"divide by zero", [] { return Quotient(1.0f, 0.0f); }},
        {"invalid", [] { return Quotient(0.0f, 0.0f); }},
        {"overflow", [] { return Product(3e38f, 10.0f); }}};
    for (const auto& case_ : faults) {
        const char* kind = case_.first; // a plain name: lambdas may not capture bindings before clang 16
        const auto& fault = case_.second;
        const char* caught = Catch_Floating_Point_Traps([&] {
            EXPECT_EQ(fegetexcept(), FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
            EXPECT_EQ(_mm_getcsr() & 0x8040u, 0u); // denormals kept
            fault();
            ++went_on;
        });
        EXPECT_STREQ(caught, kind);
        caller_back(kind);
    }
    EXPECT_EQ(went_on, 0);
    EXPECT_EQ(Catch_Floating_Point_Traps([&] { ++went_on; }), nullptr);
    EXPECT_EQ(went_on, 1);
    EXPECT_THROW(Catch_Floating_Point_Traps([] { throw std::runtime_error("no storage"); }),
                 std::runtime_error);
    caller_back("after an exception");
    sigaction(SIGFPE, &test_action, nullptr);
    std::fesetenv(&test_env);
}

} // namespace
