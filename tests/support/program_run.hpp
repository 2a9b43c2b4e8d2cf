#pragma once
// Runs the real program in a fresh temporary folder with a parameter file and
// console input, and collects what it printed and wrote.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

#ifndef CAVITY_BIN
#error "CAVITY_BIN must name the program under test"
#endif

namespace program {

namespace fs = std::filesystem;

inline std::string Read_File(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void Write_File(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary);
    out << bytes;
}

inline std::string Parameter_File(const std::string& Pr, const std::string& Ra,
                                  const std::string& T_Hot, const std::string& T_Cold,
                                  const std::string& T_Init, const std::string& Tau_T) {
    return "Prandtl number\n" + Pr + "\nRayleigh number\n" + Ra + "\nHot wall temperature\n" +
           T_Hot + "\nCold wall temperature\n" + T_Cold + "\nInitial temperature\n" + T_Init +
           "\nThermal relaxation time\n" + Tau_T + "\n";
}

// Standard error without the note on the wall-corrected Nusselt numbers
// that ends every finished run; without that last line the result is marked
// so that no comparison passes.
inline std::string Without_Nu_Note(const std::string& err) {
    const std::size_t last = err.empty() ? 0 : err.rfind('\n', err.size() - 2) + 1;
    if (err.empty() || err.back() != '\n' ||
        err.compare(last, 29, "note: wall-corrected mean Nu ") != 0)
        return err + "[no closing note on the wall-corrected Nu]";
    return err.substr(0, last);
}

// Standard error without the note on the threads a run chose, whose shares
// follow the machine's load.
inline std::string Without_Threads_Note(std::string err) {
    const std::size_t at = err.find("note: threads: ");
    if (at != std::string::npos && (at == 0 || err[at - 1] == '\n'))
        err.erase(at, err.find('\n', at) + 1 - at);
    return err;
}

inline const char* Result_Files[] = {"Result.dat", "Nu.dat", "V_Velocity_MidLine.dat",
                                     "TEMPERATURE_MidLine.dat", "U_Velocity_Vertical_MidLine.dat"};

struct Program_Run {
    fs::path dir;
    int status = -1;
    std::string out, err;

    // A fresh folder; the parameter file is written only if given.
    explicit Program_Run(const std::string* parameters = nullptr) {
        std::string tmpl = (fs::temp_directory_path() / "cavity-test-XXXXXX").string();
        dir = ::mkdtemp(tmpl.data());
        if (parameters)
            Write_File(dir / "Input_Parameters.Input", *parameters);
    }
    Program_Run(const Program_Run&) = delete;
    ~Program_Run() {
        std::error_code ec;
        if (!std::getenv("CAVITY_KEEP_TEST_DIRS"))
            fs::remove_all(dir, ec);
    }

    // Runs the program with `input` on standard input; `prefix` may set
    // limits (for example "ulimit -f 4;"); `args` goes to the shell as it
    // stands.
    int Start(const std::string& input, const std::string& prefix = "",
              const std::string& program = CAVITY_BIN, const std::string& args = "") {
        Write_File(dir / "console.in", input);
        std::string cmd = "cd '" + dir.string() + "' && " + prefix + " '" + program + "' " + args +
                          " < console.in > console.out 2> console.err";
        int rc = std::system(cmd.c_str());
        status = WIFEXITED(rc) ? WEXITSTATUS(rc) : 128 + WTERMSIG(rc);
        out = Read_File(dir / "console.out");
        err = Read_File(dir / "console.err");
        return status;
    }

    std::string File(const std::string& name) const { return Read_File(dir / name); }
    bool Has(const std::string& name) const { return fs::exists(dir / name); }
    bool Any_Result_File() const {
        for (const char* f : Result_Files)
            if (Has(f))
                return true;
        return false;
    }
    // Files in the folder other than the ones the test put there.
    int Stray_Files() const {
        int count = 0;
        for (auto& e : fs::directory_iterator(dir)) {
            std::string name = e.path().filename().string();
            if (name != "Input_Parameters.Input" && name != "console.in" && name != "console.out" &&
                name != "console.err")
                ++count;
        }
        return count;
    }
};

} // namespace program
