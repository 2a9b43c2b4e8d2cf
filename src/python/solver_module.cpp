// cavity._solver: the solver's libraries seen from Python. The package
// builds its public interface (cavity.Case, cavity.Simulation) on this: the
// run (run_binding.cpp), and the conventions the solver holds, which Python
// reads from here rather than deriving again: how the program reads a
// number and a parameter file, the constants it derives, and its warnings.
// Errors arrive in Python as the package's exceptions (cavity.errors), with
// the solver's one-line messages.
#include "driver/options.hpp"
#include "driver/run.hpp"
#include "lattice/kernel_set.hpp"
#include "process/kernel_choice.hpp"
#include "process/run_time.hpp"
#include "python/run_binding.hpp"
#include "restart/checkpoint.hpp"
#include "results/result_files.hpp"
#include "setup/initialize.hpp"
#include "setup/parameters.hpp"
#include "setup/run_limits.hpp"
#include "setup/setup_errors.hpp"
#include "textio/line_reader.hpp"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#ifndef CAVITY_VERSION
#define CAVITY_VERSION "unknown"
#endif

namespace py = pybind11;

namespace {

std::vector<std::string> Kernel_Set_Names() {
    std::vector<std::string> names;
    for (Kernel_Set set : Kernel_Sets_Built())
        names.emplace_back(Kernel_Set_Name(set));
    return names;
}

// Raises the exception class `name` of cavity.errors with `message`.
void Raise(const char* name, const char* message) {
    py::object kind = py::module_::import("cavity.errors").attr(name);
    PyErr_SetObject(kind.ptr(), py::str(message).ptr());
}

void Translate_Errors(std::exception_ptr failure) {
    try {
        if (failure)
            std::rethrow_exception(failure);
    } catch (const Parameter_Error& e) {
        Raise("CaseError", e.what());
    } catch (const textio::Input_Error& e) {
        Raise("CaseError", e.what());
    } catch (const Usage_Error& e) {
        Raise("CaseError", e.what());
    } catch (const Checkpoint_Error& e) {
        Raise("CheckpointError", e.what());
    } catch (const Run_Error& e) {
        Raise("RunError", e.what());
    } catch (const Output_Error& e) {
        Raise("RunError", e.what());
    } catch (const Run_Time_Error& e) {
        Raise("RunError", e.what());
    } catch (const Kernel_Choice_Error& e) {
        Raise("RunError", e.what());
    }
}

// The float the program reads from the text of a parameter-file value.
double Parse_Real(const std::string& text) {
    float v = 0;
    if (textio::Parse_Real(text, v) != textio::Parse_Status::Ok)
        throw textio::Input_Error("input error: \"" + text +
                                  "\" is not a number the program reads");
    return v;
}

// The six values of a parameter file as the program reads and checks them,
// and the warnings it gives on what its reads passed over.
py::tuple Read_Parameters(const std::string& path) {
    Parameter_Lines lines;
    const Physical_Parameters p = Read_Parameter_File(path.c_str(), &lines);
    Check_Parameters(p, lines);
    const std::array<double, 6> values{p.Pr, p.Ra, p.T_Hot, p.T_Cold, p.T_Init, p.Tau_T};
    return py::make_tuple(values, Reading_Warnings(lines));
}

// What a run of an n x m grid derives from the six values, and the warnings
// it gives before it starts; values the program refuses throw.
py::tuple Derive(int n, int m, const std::array<float, 6>& values) {
    const Physical_Parameters p{values[0], values[1], values[2], values[3], values[4], values[5]};
    float T_Hot, T_Cold, T_Init, T_Ref, Tau_T, G_Beta, U_Ref, Tau_F;
    std::vector<std::string> warnings;
    const char* trap = Catch_Floating_Point_Traps([&] {
        warnings = Set_Constants(n, m, p, Parameter_Lines{}, T_Hot, T_Cold, T_Init, T_Ref, Tau_T,
                                 G_Beta, U_Ref, Tau_F);
    });
    if (trap)
        throw Parameter_Error(std::string("parameter error: deriving the constants raised "
                                          "floating-point error: ") +
                              trap + "; the values are beyond what the solver can run");
    py::dict d;
    d["Tau_F"] = double(Tau_F);
    d["G_Beta"] = double(G_Beta);
    d["U_Ref"] = double(U_Ref);
    d["T_Ref"] = double(T_Ref);
    d["Diffusivity"] = double(Derive_Constants(p, m).Diffusivity);
    d["Viscosity"] = double(Derive_Constants(p, m).Viscosity);
    return py::make_tuple(d, warnings);
}

} // namespace

PYBIND11_MODULE(_solver, module) {
    module.doc() = "The cavity solver's libraries: the run in memory and the solver's conventions.";
    module.attr("__version__") = CAVITY_VERSION;
    // The kernels of every run in this process, as the program chooses them.
    Choose_Kernels(std::getenv("CAVITY_KERNELS"));
    py::register_exception_translator(&Translate_Errors);
    module.def(
        "kernel_set", [] { return std::string(Kernel_Set_Name(Kernel_Set_In_Use())); },
        "The instruction set of the kernels in use: the widest this build holds and the "
        "processor runs, or the one CAVITY_KERNELS named when the module was loaded.");
    module.def("kernel_sets_built", &Kernel_Set_Names,
               "The instruction sets this build holds kernels for, narrowest first.");
    module.def("parse_real", &Parse_Real, py::arg("text"),
               "The single-precision value the program reads from a parameter-file value.");
    module.def("read_parameters", &Read_Parameters, py::arg("path"),
               "(six values, warnings) of a parameter file, read and checked as the program "
               "reads it.");
    module.def("derive", &Derive, py::arg("n"), py::arg("m"), py::arg("values"),
               "(derived constants, warnings) of a run of n x m from the six values.");
    module.attr("result_files") =
        std::vector<std::string>(std::begin(Result_File_Names), std::end(Result_File_Names));
    module.attr("parameter_file") = Parameter_File_Name;
    module.attr("report_interval") = Report_Interval;
    module.attr("max_steps") = Max_Steps;
    Bind_Run(module);
}
