#include "python/run_binding.hpp"

#include "driver/options.hpp"
#include "driver/run.hpp"
#include "process/run_time.hpp"
#include "python/folder_hold.hpp"
#include "results/diagnostics.hpp"
#include "results/result_files.hpp"
#include "setup/parameters.hpp"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

// A run and what its Python object keeps beside it: the lock of its calls,
// the stop flag that another thread may set, and the lock of its folder.
struct Held_Run {
    std::unique_ptr<Run> run = std::make_unique<Run>();
    std::mutex mutex;
    std::atomic<bool> stop{false};
    Folder_Hold hold;
    std::string folder; // where its result files go; "" for none

    ~Held_Run() { Close(); }
    void Close() {
        if (run && !folder.empty())
            Remove_Temporary_Files(folder);
        run.reset();
        hold.Release();
    }
};

// body(run) with the interpreter's lock released and the run's taken, so that
// other Python threads and other runs go on meanwhile. Nothing here waits for
// the run's lock while holding the interpreter's.
template <class Body> auto Locked(Held_Run& h, Body body) {
    py::gil_scoped_release free;
    std::lock_guard<std::mutex> lock(h.mutex);
    if (!h.run)
        throw Run_Error("run error: this simulation has been closed; make a new one");
    return body(*h.run);
}

// A field of the run's nodes as a numpy array [j, i] that owns it.
py::array_t<float> Node_Array(Field&& f, int n, int m) {
    auto* owned = new Field(std::move(f));
    py::capsule owner(owned, [](void* p) { delete static_cast<Field*>(p); });
    return py::array_t<float>({std::size_t(m) + 1, std::size_t(n) + 1}, owned->data(), owner);
}

// F or G as a numpy array [j, i, k] that owns it.
py::array_t<float> Distribution_Array(Field&& f, int n, int m) {
    auto* owned = new Field(std::move(f));
    py::capsule owner(owned, [](void* p) { delete static_cast<Field*>(p); });
    return py::array_t<float>({std::size_t(m) + 1, std::size_t(n) + 1, std::size_t(9)},
                              owned->data(), owner);
}

const char* Ending_Name(Ending e) {
    switch (e) {
    case Ending::Running:
        return "running";
    case Ending::Step_Limit:
        return "step-limit";
    case Ending::Residual:
        return "residual";
    case Ending::Settled:
        return "settled";
    case Ending::Stopped:
        return "stopped";
    case Ending::Trapped:
        return "trapped";
    case Ending::Failed:
        break;
    }
    return "failed";
}

const char* Advance_Name(Advance_End e) {
    switch (e) {
    case Advance_End::Ended:
        return "ended";
    case Advance_End::Paused:
        return "paused";
    case Advance_End::Interrupted:
        return "interrupted";
    case Advance_End::Trapped:
        break;
    }
    return "trapped";
}

} // namespace

namespace {

// A run started in memory: the program's options as its command line would
// give them (read by the program's own parser, so that every value is
// checked and refused as the program refuses it), the six values, and the
// folder of its result files ("" for none).
std::unique_ptr<Held_Run> Start(int n, int m, const std::array<float, 6>& values,
                                const std::vector<std::string>& arguments,
                                const std::string& folder, bool reference) {
    std::vector<const char*> argv{"cavity"};
    for (const std::string& a : arguments)
        argv.push_back(a.c_str());
    const Run_Options options = Parse_Options(int(argv.size()), argv.data());
    const Physical_Parameters p{values[0], values[1], values[2], values[3], values[4], values[5]};
    auto h = std::make_unique<Held_Run>();
    py::gil_scoped_release free;
    if (!folder.empty())
        h->hold.Take(folder);
    h->folder = folder;
    h->run->output.Folder = folder;
    h->run->output.Files = !folder.empty();
    Start_Run(*h->run, reference ? Solver::Reference : Solver::Fast, options, n, m, p);
    return h;
}

std::string Advance(Held_Run& h, long long max_steps) {
    return Locked(h, [&](Run& r) {
        const int steps = int(std::min<long long>(std::max<long long>(max_steps, 0), 1 << 30));
        const Advance_End e = Advance_Run(r, steps, &h.stop);
        if (e == Advance_End::Interrupted)
            h.stop = false;
        return std::string(Advance_Name(e));
    });
}

py::dict Constants(Held_Run& h) {
    std::vector<std::pair<const char*, double>> values = Locked(h, [](Run& r) {
        const Physical_Parameters& p = r.Parameters;
        return std::vector<std::pair<const char*, double>>{{"Pr", p.Pr},
                                                           {"Ra", p.Ra},
                                                           {"T_Hot", r.T_Hot},
                                                           {"T_Cold", r.T_Cold},
                                                           {"T_Init", r.T_Init},
                                                           {"T_Ref", r.T_Ref},
                                                           {"Tau_T", r.Tau_T},
                                                           {"Tau_F", r.Tau_F},
                                                           {"G_Beta", r.G_Beta},
                                                           {"U_Ref", r.U_Ref},
                                                           {"Nu_Hot", r.Nu_Hot},
                                                           {"Residual_T", r.Residual_T},
                                                           {"Residual_Flow", r.Residual_Flow}};
    });
    py::dict d;
    for (const auto& [name, value] : values)
        d[name] = value;
    return d;
}

// One node field of the present state; "Stream" is computed from Rho, U, V
// as the result files compute it.
py::array_t<float> Node_Field(Held_Run& h, const std::string& name) {
    int n = 0, m = 0;
    Field f = Locked(h, [&](Run& r) {
        n = r.n;
        m = r.m;
        if (name == "Stream") {
            Field stream(Node_Count(r.n, r.m));
            Compute_Stream(r.n, r.m, r.Rho, r.U, r.V, stream);
            return stream;
        }
        const Field* fields[] = {&r.Rho, &r.U, &r.V, &r.T, &r.U_Old, &r.V_Old, &r.T_Old};
        const char* names[] = {"Rho", "U", "V", "T", "U_Old", "V_Old", "T_Old"};
        for (int k = 0; k < 7; ++k)
            if (name == names[k])
                return *fields[k];
        throw std::invalid_argument("no node field named " + name);
    });
    return Node_Array(std::move(f), n, m);
}

py::tuple Distributions(Held_Run& h) {
    int n = 0, m = 0;
    Field F, G;
    Locked(h, [&](Run& r) {
        n = r.n;
        m = r.m;
        Run_Distributions(r, F, G);
        return 0;
    });
    return py::make_tuple(Distribution_Array(std::move(F), n, m),
                          Distribution_Array(std::move(G), n, m));
}

// Nu.dat's first-order value and the wall-corrected hot- and cold-wall
// values of the present fields (NaN for the latter on a grid too narrow).
py::tuple Nusselt(Held_Run& h) {
    std::array<double, 3> nu = Locked(h, [](Run& r) {
        std::array<double, 3> v{double(Compute_Nu_Hot(r.n, r.m, r.T_Hot, r.T)), std::nan(""),
                                std::nan("")};
        if (r.n >= 3)
            Compute_Wall_Nusselt(r.n, r.m, r.T_Hot, r.T_Cold, r.T, v[1], v[2]);
        return v;
    });
    return py::make_tuple(nu[0], nu[1], nu[2]);
}

py::tuple Reports(Held_Run& h, std::size_t start) {
    std::vector<Run::Reported> reports = Locked(h, [&](Run& r) {
        start = std::min(start, r.reports.size());
        return std::vector<Run::Reported>(r.reports.begin() + long(start), r.reports.end());
    });
    py::array_t<int> steps(reports.size());
    py::array_t<float> nu(reports.size()), rt(reports.size()), rf(reports.size());
    for (std::size_t k = 0; k < reports.size(); ++k) {
        steps.mutable_at(k) = reports[k].Step;
        nu.mutable_at(k) = reports[k].Nu_Hot;
        rt.mutable_at(k) = reports[k].Residual_T;
        rf.mutable_at(k) = reports[k].Residual_Flow;
    }
    return py::make_tuple(steps, nu, rt, rf);
}

// What the console would have shown from byte `out_start` and note
// `note_start` on.
py::tuple Words(Held_Run& h, std::size_t out_start, std::size_t note_start) {
    std::string out;
    std::vector<std::string> notes;
    Locked(h, [&](Run& r) {
        if (out_start < r.words.Output.size())
            out = r.words.Output.substr(out_start);
        for (std::size_t k = note_start; k < r.words.Notes.size(); ++k)
            notes.push_back(r.words.Notes[k]);
        return 0;
    });
    return py::make_tuple(py::bytes(out), notes);
}

void Write_Results(Held_Run& h, const std::string& folder) {
    Locked(h, [&](Run& r) {
        Folder_Hold hold;
        if (folder != h.folder)
            hold.Take(folder);
        Write_Run_Results(r, folder);
        return 0;
    });
}

} // namespace

void Bind_Run(py::module_& module) {
    py::class_<Held_Run>(module, "Run",
                         "The solver's run held in memory; cavity.Simulation is its public face.")
        .def(py::init(&Start), py::arg("n"), py::arg("m"), py::arg("values"), py::arg("arguments"),
             py::arg("folder"), py::arg("reference") = false,
             "Starts a run of an n x m grid from the six values (Pr, Ra, T_Hot, T_Cold, "
             "T_Init, Tau_T), with the program's options as command-line arguments, its "
             "result files in `folder` (none where empty).")
        .def("advance", &Advance, py::arg("max_steps"),
             "Makes up to max_steps steps: 'ended', 'paused', 'interrupted' (stop() was "
             "called) or 'trapped'.")
        .def(
            "stop", [](Held_Run& h) { h.stop = true; },
            "Asks an advance on another thread to return before its next step.")
        .def(
            "end",
            [](Held_Run& h) {
                Locked(h, [](Run& r) {
                    End_Run(r);
                    return 0;
                });
            },
            "The final snapshot, closing lines and notes, as the program ends.")
        .def(
            "close",
            [](Held_Run& h) {
                Locked(h, [&h](Run&) {
                    h.Close();
                    return 0;
                });
            },
            "Frees the run, its folder's lock and its temporary files.")
        .def_property_readonly("step",
                               [](Held_Run& h) { return Locked(h, [](Run& r) { return r.Step; }); })
        .def_property_readonly(
            "ending",
            [](Held_Run& h) {
                return Locked(h, [](Run& r) { return std::string(Ending_Name(r.ending)); });
            })
        .def_property_readonly("trap",
                               [](Held_Run& h) {
                                   return Locked(
                                       h, [](Run& r) { return std::string(r.trap ? r.trap : ""); });
                               })
        .def_property_readonly("trap_cause",
                               [](Held_Run& h) {
                                   return Locked(h, [](Run& r) {
                                       return Blow_Up_Cause(r.Parameters,
                                                            Derive_Constants(r.Parameters, r.m),
                                                            r.n, r.m);
                                   });
                               })
        .def_property_readonly(
            "grid",
            [](Held_Run& h) { return Locked(h, [](Run& r) { return std::pair(r.n, r.m); }); })
        .def_property_readonly(
            "threads",
            [](Held_Run& h) { return Locked(h, [](Run& r) { return r.steps.threads.Count(); }); })
        .def("constants", &Constants, "The six values and what the run derived from them.")
        .def("field", &Node_Field, py::arg("name"),
             "A copy of a node field (Rho, U, V, T, U_Old, V_Old, T_Old, or Stream) [j, i].")
        .def("distributions", &Distributions, "Copies of F and G, [j, i, k].")
        .def("nusselt", &Nusselt,
             "(Nu.dat's value, hot wall, cold wall wall-corrected) of the present fields.")
        .def("reports", &Reports, py::arg("start") = 0,
             "(steps, Nu, residual T, residual flow) of the reports from number `start` on.")
        .def("words", &Words, py::arg("output_start") = 0, py::arg("note_start") = 0,
             "(standard output bytes, notes) of the run from the given offsets on.")
        .def("write_results", &Write_Results, py::arg("folder"),
             "The five result files of the present fields into `folder`.")
        .def(
            "keep_checkpoint",
            [](Held_Run& h, const std::string& file) {
                Locked(h, [&](Run& r) {
                    r.checkpoint_wanted = file;
                    return 0;
                });
            },
            py::arg("file"), "A checkpoint into `file` at the next report.")
        .def_property_readonly("checkpoint_pending", [](Held_Run& h) {
            return Locked(h, [](Run& r) { return !r.checkpoint_wanted.empty(); });
        });
}
