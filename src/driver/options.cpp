#include "driver/options.hpp"

#include "process/kernel_choice.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string_view>

#ifndef CAVITY_VERSION
#define CAVITY_VERSION "unknown"
#endif

namespace {

[[noreturn]] void Fail(const std::string& what) {
    throw Usage_Error("usage error: " + what + "; " + Synopsis);
}

// The value of an option given as "--name VALUE" or "--name=VALUE".
struct Arguments {
    int argc;
    const char* const* argv;
    int at = 1;

    std::string Value(std::string_view name, std::string_view inline_value, bool has_inline) {
        if (has_inline)
            return std::string(inline_value);
        if (at + 1 >= argc)
            Fail(std::string(name) + " needs a value");
        return argv[++at];
    }
};

double Positive_Real(std::string_view name, const std::string& text) {
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno != 0 || !std::isfinite(v) || v <= 0.0)
        Fail(std::string(name) + " \"" + text + "\" is not a positive number");
    return v;
}

int Whole_Number(std::string_view name, const std::string& text, long low, long high) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < low || v > high)
        Fail(std::string(name) + " \"" + text + "\" is not a whole number from " +
             std::to_string(low) + " to " + std::to_string(high));
    return int(v);
}

// Where the README is, if it is there: installed beside the program, or in
// the source tree of a build folder.
std::string Docs_Pointer() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "";
    for (const char* place : {"../share/doc/cavity/README.md", "../README.md"}) {
        const std::filesystem::path readme = exe.parent_path() / place;
        if (std::filesystem::is_regular_file(readme, error))
            return "More in " + std::filesystem::weakly_canonical(readme, error).string() + ".\n";
    }
    return "";
}

// The names of the schemes, "a, b or c".
std::string Scheme_Names() {
    std::string names;
    const std::size_t count = std::size(Schemes);
    for (std::size_t k = 0; k < count; ++k)
        names += std::string(k == 0 ? "" : k + 1 == count ? " or " : ", ") + Schemes[k].name;
    return names;
}

Scheme Scheme_Named(const std::string& name) {
    for (const Named_Scheme& s : Schemes)
        if (name == s.name)
            return s.scheme;
    Fail("--scheme \"" + name + "\" is not a scheme; the schemes are " + Scheme_Names());
}

} // namespace

Run_Options Parse_Options(int argc, const char* const* argv) {
    Run_Options o;
    Arguments args{argc, argv};
    bool window_given = false, every_given = false;
    for (; args.at < argc; ++args.at) {
        std::string_view arg = argv[args.at], value;
        const std::size_t eq = arg.find('=');
        const bool has_value = arg.rfind("--", 0) == 0 && eq != std::string_view::npos;
        std::string_view name = has_value ? arg.substr(0, eq) : arg;
        if (has_value)
            value = arg.substr(eq + 1);
        auto flag = [&](bool& set) {
            if (has_value)
                Fail(std::string(name) + " takes no value");
            set = true;
        };
        if (name == "--help" || name == "-h")
            flag(o.help);
        else if (name == "--version")
            flag(o.version);
        else if (name == "--settle")
            o.Settle_Tolerance = Positive_Real(name, args.Value(name, value, has_value));
        else if (name == "--settle-window") {
            o.Settle_Window = Whole_Number(name, args.Value(name, value, has_value), 100, 1000000);
            window_given = true;
        } else if (name == "--threads")
            o.Threads = Whole_Number(name, args.Value(name, value, has_value), 1, 4096);
        else if (name == "--checkpoint")
            o.Checkpoint_File = args.Value(name, value, has_value);
        else if (name == "--checkpoint-every") {
            o.Checkpoint_Every = Whole_Number(name, args.Value(name, value, has_value), 1, 1000000);
            every_given = true;
        } else if (name == "--accelerate")
            flag(o.Accelerate);
        else if (name == "--start-from")
            o.Start_From = args.Value(name, value, has_value);
        else if (name == "--files-every")
            o.Files_Every = Whole_Number(name, args.Value(name, value, has_value), 1, 1000000);
        else if (name == "--scheme")
            o.Scheme_Used = Scheme_Named(args.Value(name, value, has_value));
        else if (name == "--no-residual-stop") {
            bool set = false;
            flag(set);
            o.Residual_Stop = !set;
        } else
            Fail("unknown option \"" + std::string(arg) + "\"");
    }
    // Accelerated, a checkpoint restarts the history of extrapolated states.
    o.Settle_Window_Given = window_given;
    if (o.Accelerate && !every_given && !o.Checkpoint_File.empty())
        o.Checkpoint_Every = Run_Options::Accelerated_Checkpoint_Every;
    if (window_given && o.Settle_Tolerance == 0.0)
        Fail("--settle-window needs --settle TOL");
    if (every_given && o.Checkpoint_File.empty())
        Fail("--checkpoint-every needs --checkpoint FILE");
    if (!o.Checkpoint_File.empty() && o.Checkpoint_File == o.Start_From)
        Fail("--start-from \"" + o.Start_From +
             "\" is the --checkpoint file itself; a run goes "
             "on from its checkpoint by itself");
    return o;
}

std::string Usage_Text() {
    return std::string(Synopsis) + R"(

Natural convection in a side-heated cavity by the lattice Boltzmann method.
Run it in a folder that holds Input_Parameters.Input; it asks for the grid
size n and m on the console and writes Result.dat, Nu.dat and three mid-line
files there. Standard output, the files and the exit status of a run without
options are always the same bytes; options add to them as said below, and
the program talks to a person on standard error.

Options:
  --settle TOL           end the run after a report once the reported Nu has
                         neither drifted nor swung by more than TOL, relative,
                         over a window that follows the case and TOL, and its
                         estimated distance from where it settles is within
                         TOL, or once it only wanders as single precision
                         makes it (the note says how far); it then ends as a
                         converged run does
  --settle-window STEPS  a fixed window of --settle, in steps
  --accelerate           reach the steady state in fewer steps: every 400
                         to 4000 steps the state is extrapolated from the
                         blocks before, then its mean temperature alone (the
                         run still ends on exact steps, by the stop rule or
                         --settle; the reports count exact steps)
  --threads N            threads of the time step (default: OMP_NUM_THREADS,
                         else chosen again at every report: up to the cores
                         the process may run on, as many as the grid makes
                         worth it, fewer while fewer go faster); any number
                         gives the same bytes
  --checkpoint FILE      keep the whole state of the run in FILE, replaced at
                         reports as often as costs about 5 % of the run's
                         time, and at its end; a run started again with the
                         same FILE, grid and parameters goes on where it was
  --checkpoint-every STEPS
                         write FILE at the first report after each STEPS steps
                         and at the end (default with --accelerate: 10000)
  --start-from FILE      start from the state kept in FILE (by --checkpoint)
                         instead of from rest; from another grid, its
                         fields interpolated onto this one in its units
  --files-every STEPS    write the result files at the first report after
                         each STEPS steps and at the end, not at every report
  --scheme NAME          the rule of the insulated walls and the collisions
                         (--version with it names it too):
                         copy (without the option), the program's own: the
                         rows of the insulated walls collide and copy from the
                         row beside them, which leaves Nu with an error of
                         first order in the spacing; bounce-back: those rows
                         are walls that send the temperature back (and mirror
                         part of the diagonals), half a spacing inside them
                         as the other walls, for a Nu of second order;
                         bounce-back-trt: the same with the two-relaxation-
                         time collision of the temperature. The checkpoint
                         keeps the scheme; the note at the end names it
  --no-residual-stop     no end by the residual stop (1e-7): the run ends by
                         --settle or after 1000000 steps
  --help                 this text
  --version              the version and the kernels it runs (the environment
                         variable CAVITY_KERNELS=baseline|avx2|avx512 holds them
                         to one set)

The parameter file has twelve lines: a label on each odd line (any text,
never read) and on each even line a number, which a comment may follow:
   2  Pr      Prandtl number, above 0
   4  Ra      Rayleigh number, above 0 (its length is the height m)
   6  T_Hot   temperature of the hot wall, on the left
   8  T_Cold  temperature of the cold wall, on the right
  10  T_Init  temperature of the fluid at the start
  12  Tau_T   relaxation time of the temperature, above 0.5: the thermal
              diffusivity is (Tau_T - 0.5)/3 and the viscosity Pr times it
From a script: printf '64\n64\n\n' | cavity (n, m and the empty line that
ends the pause).

Exit status: 0 after a normal end, 1 after any failure, with a one-line
message on standard error.
)" + Docs_Pointer();
}

std::string Version_Text(const Scheme& scheme) {
    const std::string line =
        std::string("cavity ") + CAVITY_VERSION + " (" + Kernels_Text() + ")\n";
    if (scheme == Scheme{})
        return line;
    return line + "scheme: " + Scheme_Name(scheme) + "\n";
}
