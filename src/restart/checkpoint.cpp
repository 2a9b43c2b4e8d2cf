#include "restart/checkpoint.hpp"

#include "restart/checksum.hpp"
#include "restart/durable_file.hpp"
#include "results/result_files.hpp"
#include "setup/initialize.hpp"
#include "setup/run_limits.hpp"
#include "textio/console.hpp"
#include "textio/line_reader.hpp"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef CAVITY_VERSION
#define CAVITY_VERSION "unknown"
#endif

static_assert(std::endian::native == std::endian::little, "checkpoints are little-endian");

namespace {

// The layout (docs/checkpoint.md): a version changes with any change of it.
// Version 2 is version 1 with the scheme in the header's last four bytes,
// which version 1 leaves zero: a run of the original scheme writes version
// 1, as it always has, and a version 1 file is of the original scheme; a
// program that knows no schemes refuses a file of another.
constexpr char Checkpoint_Magic[9] = "CAVITYCK";
constexpr std::uint32_t Checkpoint_Version = 1, Checkpoint_Version_Scheme = 2;
constexpr std::uint32_t Checkpoint_Header_Bytes = 128;

constexpr std::size_t Rows_Bytes = std::size_t(1) << 20; // rows in transit, about

// The fixed part of a checkpoint, in the order of the file (offsets in
// docs/checkpoint.md).
struct Header {
    std::uint32_t version = Checkpoint_Version, header_bytes = Checkpoint_Header_Bytes;
    std::uint64_t file_bytes = 0;
    char program[16] = {};
    std::int32_t n = 0, m = 0, step = 0;
    std::uint32_t from_file = 0, start_checksum = 0, history_bytes = 0;
    Physical_Parameters p{};
    Derived_Constants d{};
    float Nu_Hot = 0, Residual_T = 0, Residual_Flow = 0;
    std::uint32_t scheme = 0;   // Scheme_Code (version 2)
    std::uint32_t checksum = 0; // the file's last four bytes (not in the header)
};

std::uint64_t File_Bytes(int n, int m, std::uint64_t history_bytes) {
    const std::uint64_t nodes = (std::uint64_t(n) + 1) * (std::uint64_t(m) + 1);
    return Checkpoint_Header_Bytes + nodes * 4 * (7 + 18) + history_bytes + 4;
}

template <class T> void Put(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

template <class T> void Take(const char*& in, T& value) {
    std::memcpy(&value, in, sizeof value);
    in += sizeof value;
}

std::string Header_Text(const Header& h) {
    std::string out(Checkpoint_Magic, 8);
    Put(out, h.version);
    Put(out, h.header_bytes);
    Put(out, h.file_bytes);
    Put(out, h.program);
    for (auto v : {h.n, h.m, h.step})
        Put(out, v);
    for (auto v : {h.from_file, h.start_checksum, h.history_bytes})
        Put(out, v);
    for (float v : {h.p.Pr, h.p.Ra, h.p.T_Hot, h.p.T_Cold, h.p.T_Init, h.p.Tau_T, h.d.Diffusivity,
                    h.d.Viscosity, h.d.Tau_F, h.d.G_Beta, h.d.U_Ref, h.d.T_Ref, h.Nu_Hot,
                    h.Residual_T, h.Residual_Flow})
        Put(out, v);
    if (h.version == Checkpoint_Version_Scheme)
        Put(out, h.scheme);
    out.resize(Checkpoint_Header_Bytes, '\0');
    return out;
}

Header Read_Header_Text(const char* in) {
    Header h;
    in += 8; // the magic, checked by the caller
    Take(in, h.version);
    Take(in, h.header_bytes);
    Take(in, h.file_bytes);
    Take(in, h.program);
    h.program[15] = '\0';
    for (auto* v : {&h.n, &h.m, &h.step})
        Take(in, *v);
    for (auto* v : {&h.from_file, &h.start_checksum, &h.history_bytes})
        Take(in, *v);
    for (float* v : {&h.p.Pr, &h.p.Ra, &h.p.T_Hot, &h.p.T_Cold, &h.p.T_Init, &h.p.Tau_T,
                     &h.d.Diffusivity, &h.d.Viscosity, &h.d.Tau_F, &h.d.G_Beta, &h.d.U_Ref,
                     &h.d.T_Ref, &h.Nu_Hot, &h.Residual_T, &h.Residual_Flow})
        Take(in, *v);
    if (h.version == Checkpoint_Version_Scheme)
        Take(in, h.scheme);
    return h;
}

// Rows of F and G in a checkpoint: for each row j, the nine values of each
// node of F, then those of G.
std::size_t Row_Floats(int n) {
    return 18 * (std::size_t(n) + 1);
}

std::size_t Rows_In_Transit(int n) {
    return std::max<std::size_t>(1, Rows_Bytes / (4 * Row_Floats(n)));
}

std::string_view Bytes_Of(const float* p, std::size_t count) {
    return {reinterpret_cast<const char*>(p), count * sizeof(float)};
}

std::string Grid(int n, int m) {
    return std::to_string(n) + " x " + std::to_string(m);
}

std::string Text(float x) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, x);
    return std::string(buf, r.ptr);
}

} // namespace

void Interpolate_Field(int n0, int m0, const Field& from, int n, int m, Field& to) {
    for (int j = 0; j <= m; ++j) {
        const double y = double(j) * m0 / m;
        const int j0 = std::min(int(y), m0 - 1);
        const double fy = y - j0;
        for (int i = 0; i <= n; ++i) {
            const double x = double(i) * n0 / n;
            const int i0 = std::min(int(x), n0 - 1);
            const double fx = x - i0;
            const double below =
                (1.0 - fx) * from[Node(n0, i0, j0)] + fx * from[Node(n0, i0 + 1, j0)];
            const double above =
                (1.0 - fx) * from[Node(n0, i0, j0 + 1)] + fx * from[Node(n0, i0 + 1, j0 + 1)];
            to[Node(n, i, j)] = float((1.0 - fy) * below + fy * above);
        }
    }
}

std::size_t Checkpoint_Row_Floats(int n) {
    return Row_Floats(n) * Rows_In_Transit(n);
}

namespace {

// The checkpoint of a step through `write`, piece by piece, and last the
// checksum of all the pieces.
void Write_Checkpoint(const Text_Sink& write, const Header& h, std::string_view history,
                      const Run_State& s, Field& rows) {
    std::uint32_t crc = 0;
    auto put = [&](std::string_view piece) {
        crc = Crc32(crc, piece.data(), piece.size());
        write(piece);
    };
    put(Header_Text(h));
    for (const Field* f : {&s.Rho, &s.U, &s.V, &s.T, &s.U_Old, &s.V_Old, &s.T_Old})
        put(Bytes_Of(f->data(), f->size()));
    // F and G, node-major, as many rows at a time as the buffer holds.
    const std::size_t row = Row_Floats(s.n);
    const int chunk = int(Rows_In_Transit(s.n));
    for (int j0 = 0; j0 <= s.m; j0 += chunk) {
        const int j1 = std::min(s.m + 1, j0 + chunk);
        for (int j = j0; j < j1; ++j) {
            float* at = rows.data() + std::size_t(j - j0) * row;
            s.links.Rows_Out(j, j + 1, at, at + row / 2);
        }
        put(Bytes_Of(rows.data(), std::size_t(j1 - j0) * row));
    }
    put(history);
    write(std::string_view(reinterpret_cast<const char*>(&crc), sizeof crc));
}

Header Header_Of(int Step, const Run_State& s, const Checkpointing& keep,
                 std::size_t history_bytes) {
    Header h;
    std::strncpy(h.program, CAVITY_VERSION, sizeof h.program - 1);
    h.n = s.n;
    h.m = s.m;
    h.step = Step;
    h.from_file = keep.From_File;
    h.start_checksum = keep.Start_Checksum;
    h.history_bytes = std::uint32_t(history_bytes);
    h.file_bytes = File_Bytes(s.n, s.m, h.history_bytes);
    h.p = s.Parameters;
    h.d = Derive_Constants(s.Parameters, s.m);
    h.Nu_Hot = s.Nu_Hot;
    h.Residual_T = s.Residual_T;
    h.Residual_Flow = s.Residual_Flow;
    h.scheme = Scheme_Code(s.scheme);
    if (h.scheme != 0)
        h.version = Checkpoint_Version_Scheme;
    return h;
}

// At the first report at or after each multiple of `every` steps; paced
// (every 0): at the first report of the run, then once the time since the
// last checkpoint is Paced_Factor times what it took.
bool Is_Due(const Checkpointing& keep, int Step) {
    if (keep.Every > 0)
        return Step / keep.Every > (Step - Report_Interval) / keep.Every;
    if (keep.Last_Done == std::chrono::steady_clock::time_point{})
        return true;
    const std::chrono::duration<double> since = std::chrono::steady_clock::now() - keep.Last_Done;
    return since.count() >= Paced_Factor * keep.Last_Seconds;
}

void Write_Now(Checkpointing& keep, const std::string& file, int Step, const Run_State& s) {
    const auto start = std::chrono::steady_clock::now();
    // The reports before it are out before it: after a crash the console
    // shows every report up to the step the run goes on from.
    textio::Console_Flush();
    const std::string history = s.links.History();
    const Header h = Header_Of(Step, s, keep, history.size());
    Replace_Durably(
        file, [&](const Text_Sink& write) { Write_Checkpoint(write, h, history, s, keep.rows); });
    if (file != keep.File)
        return; // a checkpoint a library asks for sets no pace
    keep.Last_Step = Step;
    keep.Last_Done = std::chrono::steady_clock::now();
    keep.Last_Seconds = std::chrono::duration<double>(keep.Last_Done - start).count();
}

} // namespace

bool Keep_Checkpoint(Checkpointing& keep, int Step, const Run_State& s) {
    if (keep.File.empty() || !Is_Due(keep, Step))
        return false;
    Write_Now(keep, keep.File, Step, s);
    return true;
}

void Write_Checkpoint_Now(Checkpointing& keep, const std::string& file, int Step,
                          const Run_State& s) {
    Write_Now(keep, file, Step, s);
}

void Keep_Final_Checkpoint(Checkpointing& keep, int Step, const Run_State& s) {
    if (!keep.File.empty() && keep.Last_Step != Step)
        Write_Now(keep, keep.File, Step, s);
}

namespace {

// A checkpoint file being read: kept by this run (--checkpoint) or the start
// of it (--start-from); what the messages call it.
struct Source {
    bool kept;
    std::string path, label;
    int fd = -1;
    std::uint64_t size = 0;
    Source(bool kept_, const std::string& path_)
        : kept(kept_), path(path_), label((kept ? "--checkpoint " : "--start-from ") + path_) {}
    Source(const Source&) = delete;
    ~Source() {
        if (fd >= 0)
            ::close(fd);
    }
    // What the user can do about a file that cannot be used.
    std::string Remedy() const {
        return kept ? "to start afresh, name another file or remove it"
                    : "name another checkpoint to start from";
    }
};

std::string Message(const Source& f, const std::string& what, const std::string& remedy) {
    return "checkpoint error: " + f.label + " " + what + "; " + remedy;
}

[[noreturn]] void Refuse(const Source& f, const std::string& what, const std::string& remedy) {
    throw Checkpoint_Error(Message(f, what, remedy));
}

// A file damaged or cut short, which the one before it may stand in for.
struct Damaged_File : Checkpoint_Error {
    std::string what_is_wrong;
    Damaged_File(const std::string& message, const std::string& what)
        : Checkpoint_Error(message), what_is_wrong(what) {}
};

// A damaged file. After a crash of the machine the temporary file beside a
// kept checkpoint may hold the one before it.
[[noreturn]] void Damaged(const Source& f, const std::string& what) {
    struct stat st {};
    const std::string tmp = f.path + ".tmp";
    throw Damaged_File(
        Message(f, what,
                f.Remedy() + (f.kept && ::stat(tmp.c_str(), &st) == 0
                                  ? " (" + tmp + " may hold the checkpoint before it: moved to " +
                                        f.path + ", the run goes on from there if it is whole)"
                                  : "")),
        what);
}

[[noreturn]] void Cannot(const char* what, const Source& f, int err) {
    throw textio::Input_Error("input error: cannot " + std::string(what) + " " + f.label + ": " +
                              std::strerror(err));
}

// Opens the file; false where it does not exist and need not.
bool Open(Source& f, bool must_exist) {
    // Not blocking: a pipe of that name is refused below, not waited on.
    f.fd = ::open(f.path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (f.fd < 0) {
        if (errno == ENOENT && !must_exist)
            return false;
        Cannot("open", f, errno);
    }
    struct stat st {};
    if (::fstat(f.fd, &st) != 0)
        Cannot("read", f, errno);
    if (!S_ISREG(st.st_mode))
        Cannot("read", f, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
    f.size = std::uint64_t(st.st_size);
    return true;
}

void Read_At(const Source& f, void* into, std::uint64_t len, std::uint64_t at) {
    char* p = static_cast<char*>(into);
    while (len > 0) {
        ssize_t r = ::pread(f.fd, p, std::min<std::uint64_t>(len, 1 << 30), off_t(at));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            Cannot("read", f, errno);
        if (r == 0)
            Damaged(f, "was cut short while it was read");
        p += r;
        at += std::uint64_t(r);
        len -= std::uint64_t(r);
    }
}

std::string Bytes(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

// The magic and the format version, from as many bytes as the file has.
void Check_Kind(const Source& f) {
    char head[40] = {};
    Read_At(f, head, std::min<std::uint64_t>(f.size, sizeof head), 0);
    const std::size_t have = std::size_t(std::min<std::uint64_t>(f.size, 8));
    if (std::memcmp(head, Checkpoint_Magic, have) != 0)
        Refuse(f,
               std::string("is not a checkpoint (it does not begin with ") + Checkpoint_Magic + ")",
               f.kept ? "name another file (this one is left as it is)"
                      : "name a file written by --checkpoint");
    if (f.size < 12)
        Damaged(f, "is cut short: it has " + Bytes(f.size));
    std::uint32_t version;
    std::memcpy(&version, head + 8, 4);
    if (version != Checkpoint_Version && version != Checkpoint_Version_Scheme) {
        const std::string by(head + 24, strnlen(head + 24, 16));
        Refuse(f,
               "has format version " + std::to_string(version) +
                   (f.size >= 40 && !by.empty() ? " (written by cavity " + by + ")" : "") +
                   "; this cavity (" CAVITY_VERSION ") reads versions " +
                   std::to_string(Checkpoint_Version) + " and " +
                   std::to_string(Checkpoint_Version_Scheme),
               f.kept ? "go on with the program that wrote it, or, " + f.Remedy()
                      : "start from it with the program that wrote it, or " + f.Remedy());
    }
}

// The format, the size and the checksum; returns the header.
Header Check(const Source& f, Field& rows) {
    Check_Kind(f);
    if (f.size < Checkpoint_Header_Bytes + 4)
        Damaged(f, "is cut short: it has " + Bytes(f.size) + ", less than its header");
    char text[Checkpoint_Header_Bytes];
    Read_At(f, text, sizeof text, 0);
    Header h = Read_Header_Text(text);
    Scheme scheme;
    if (h.header_bytes != Checkpoint_Header_Bytes || h.n < 1 || h.m < 1 ||
        h.file_bytes != File_Bytes(h.n, h.m, h.history_bytes) ||
        !Scheme_Of_Code(h.scheme, scheme) || *Scheme_Name(scheme) == '\0')
        Damaged(f, "is damaged: its header does not hold together (grid " + Grid(h.n, h.m) + ", " +
                       Bytes(h.file_bytes) + ")");
    if (f.size < h.file_bytes)
        Damaged(f, "is cut short: it has " + std::to_string(f.size) + " of its " +
                       Bytes(h.file_bytes));
    if (f.size > h.file_bytes)
        Damaged(f, "has the wrong size: " + Bytes(f.size) + ", where its header gives " +
                       std::to_string(h.file_bytes));
    std::uint32_t crc = 0;
    const std::uint64_t body = f.size - 4, piece = rows.size() * sizeof(float);
    for (std::uint64_t at = 0; at < body; at += piece) {
        const std::uint64_t len = std::min(piece, body - at);
        Read_At(f, rows.data(), len, at);
        crc = Crc32(crc, rows.data(), std::size_t(len));
    }
    Read_At(f, &h.checksum, 4, body);
    if (crc != h.checksum)
        Damaged(f, "is damaged: its checksum does not match its contents");
    return h;
}

// Names the values that differ: "Ra = 10000 there, 100000 here".
template <std::size_t N>
std::string Differences(const char* const (&names)[N], const float (&there)[N],
                        const float (&here)[N], const char* here_name) {
    std::string text;
    for (std::size_t k = 0; k < N; ++k)
        if (std::bit_cast<std::uint32_t>(there[k]) != std::bit_cast<std::uint32_t>(here[k]))
            text += std::string(text.empty() ? "" : ", ") + names[k] + " = " + Text(there[k]) +
                    " there, " + Text(here[k]) + " " + here_name;
    return text;
}

// That the checkpoint is of this very run: grid, parameters, the constants
// derived from them, the start, and a step at a report.
void Check_Same_Run(const Source& f, const Header& h, const Run_State& s,
                    const Checkpointing& keep) {
    if (h.scheme != Scheme_Code(s.scheme)) {
        Scheme there;
        Scheme_Of_Code(h.scheme, there);
        Refuse(f,
               std::string("was written under the scheme ") + Scheme_Name(there) + ", not " +
                   Scheme_Name(s.scheme),
               std::string("to go on with it, give --scheme ") + Scheme_Name(there) + "; " +
                   f.Remedy());
    }
    if (h.n != s.n || h.m != s.m)
        Refuse(f, "was written for a " + Grid(h.n, h.m) + " grid, not " + Grid(s.n, s.m),
               "to go on with it, answer " + std::to_string(h.n) + " and " + std::to_string(h.m) +
                   "; " + f.Remedy());
    const Physical_Parameters& p = s.Parameters;
    const std::string params = Differences(
        {"Pr", "Ra", "T_Hot", "T_Cold", "T_Init", "Tau_T"},
        {h.p.Pr, h.p.Ra, h.p.T_Hot, h.p.T_Cold, h.p.T_Init, h.p.Tau_T},
        {p.Pr, p.Ra, p.T_Hot, p.T_Cold, p.T_Init, p.Tau_T}, "in Input_Parameters.Input");
    if (!params.empty())
        Refuse(f, "was written for other parameters: " + params,
               "to go on with it, put those values back; " + f.Remedy());
    const Derived_Constants d = Derive_Constants(p, s.m);
    const std::string derived =
        Differences({"Diffusivity", "Viscosity", "Tau_F", "G_Beta", "U_Ref", "T_Ref"},
                    {h.d.Diffusivity, h.d.Viscosity, h.d.Tau_F, h.d.G_Beta, h.d.U_Ref, h.d.T_Ref},
                    {d.Diffusivity, d.Viscosity, d.Tau_F, d.G_Beta, d.U_Ref, d.T_Ref}, "here");
    if (!derived.empty())
        Refuse(f,
               "was written by cavity " + std::string(h.program) +
                   ", which derives other constants from these parameters: " + derived,
               f.Remedy());
    if (keep.From_File && (!h.from_file || h.start_checksum != keep.Start_Checksum))
        Refuse(f,
               std::string("was written by a run that started from ") +
                   (h.from_file ? "another file" : "rest") + ", not from this --start-from",
               f.Remedy());
    if (h.step < 1 || h.step > Max_Steps)
        Damaged(f, "is damaged: its step " + std::to_string(h.step) + " is not a step of a run");
}

// The fields of a checked file into the run: Rho, U, V, T, then (for a run
// that goes on) the old copies, and F and G through the rows buffer.
void Load_Fields(const Source& f, Run_State& s, Field& rows, bool old_copies) {
    Field* fields[] = {&s.Rho, &s.U, &s.V, &s.T, &s.U_Old, &s.V_Old, &s.T_Old};
    std::uint64_t at = Checkpoint_Header_Bytes;
    for (int k = 0; k < 7; ++k) {
        Field& field = *fields[k];
        const std::uint64_t len = field.size() * sizeof(float);
        if (k < 4 || old_copies)
            Read_At(f, field.data(), len, at);
        at += len;
    }
    const std::size_t row = Row_Floats(s.n), half = row / 2;
    const int chunk = int(Rows_In_Transit(s.n));
    for (int j0 = 0; j0 <= s.m; j0 += chunk) {
        const int j1 = std::min(s.m + 1, j0 + chunk);
        const std::uint64_t len = std::uint64_t(j1 - j0) * row * sizeof(float);
        Read_At(f, rows.data(), len, at);
        at += len;
        for (int j = j0; j < j1; ++j) {
            const float* from = rows.data() + std::size_t(j - j0) * row;
            s.links.Rows_In(j, j + 1, from, from + half);
        }
    }
}

// The run goes on from the state of the checkpoint's step.
void Go_On_From(const Source& f, const Header& h, Run_State& s, Field& rows) {
    std::string history(h.history_bytes, '\0');
    Read_At(f, history.data(), history.size(), h.file_bytes - 4 - h.history_bytes);
    try {
        s.links.Restore_History(history);
    } catch (const std::runtime_error& e) {
        Damaged(f, std::string("is damaged: ") + e.what());
    }
    // Only the checkpoint of a run's end by the residual stop may fall
    // between reports.
    if (h.step % Report_Interval != 0 &&
        !(s.links.Ended_Between_Reports && s.links.Ended_Between_Reports()))
        Damaged(f, "is damaged: its step " + std::to_string(h.step) + " is not a report step");
    Load_Fields(f, s, rows, true);
    s.Nu_Hot = h.Nu_Hot;
    s.Residual_T = h.Residual_T;
    s.Residual_Flow = h.Residual_Flow;
}

// The factor that carries a velocity of the other run into this one: the
// ratio of the reference velocities (with Tau_T held, U_Ref falls as 1/m).
double Velocity_Scale(const Header& h, const Run_State& s) {
    const double from = h.d.U_Ref, to = Derive_Constants(s.Parameters, s.m).U_Ref;
    return from > 0.0 && to > 0.0 ? to / from : 1.0;
}

// The fields Rho, U, V, T of a checkpoint of another grid, interpolated onto
// this one in the other run's units, then made this run's: the velocity
// scaled by Velocity_Scale, the density's departure from its mean by its
// square (pressure goes with the velocity squared) about 1, the temperature
// mapped from the other run's wall temperatures to this one's. The wall
// nodes keep Rho 1, U 0, V 0 as at rest (their T is interpolated, the side
// walls' set by the caller).
void Interpolate_Fields(const Source& f, const Header& h, Run_State& s) {
    const std::size_t nodes = Node_Count(h.n, h.m);
    Field from(nodes);
    Field* to[] = {&s.Rho, &s.U, &s.V, &s.T};
    for (int k = 0; k < 4; ++k) {
        Read_At(f, from.data(), nodes * sizeof(float),
                Checkpoint_Header_Bytes + std::uint64_t(k) * nodes * sizeof(float));
        Interpolate_Field(h.n, h.m, from, s.n, s.m, *to[k]);
    }
    const double scale = Velocity_Scale(h, s);
    const double span_from = double(h.p.T_Hot) - h.p.T_Cold;
    const double span_to = double(s.Parameters.T_Hot) - s.Parameters.T_Cold;
    const double t_scale = span_from != 0.0 ? span_to / span_from : 1.0;
    double mean = 0.0;
    std::size_t inside = 0;
    for (int j = 1; j < s.m; ++j)
        for (int i = 1; i < s.n; ++i, ++inside)
            mean += s.Rho[Node(s.n, i, j)];
    mean = inside > 0 ? mean / double(inside) : 1.0;
    for (int j = 0; j <= s.m; ++j)
        for (int i = 0; i <= s.n; ++i) {
            const std::size_t c = Node(s.n, i, j);
            s.T[c] = float(double(s.Parameters.T_Cold) + (double(s.T[c]) - h.p.T_Cold) * t_scale);
            if (i == 0 || i == s.n || j == 0 || j == s.m) {
                s.Rho[c] = 1.0f;
                s.U[c] = 0.0f;
                s.V[c] = 0.0f;
            } else {
                s.Rho[c] = float(1.0 + (double(s.Rho[c]) - mean) * scale * scale);
                s.U[c] = float(double(s.U[c]) * scale);
                s.V[c] = float(double(s.V[c]) * scale);
            }
        }
}

// F and G at the equilibrium of the fields, by the formula of the collisions
// (at rest it is that of the initial state), a row at a time through `rows`.
void Equilibrium_Distributions(Run_State& s, Field& rows) {
    const std::size_t half = Row_Floats(s.n) / 2;
    for (int j = 0; j <= s.m; ++j) {
        float *F_row = rows.data(), *G_row = F_row + half;
        for (int i = 0; i <= s.n; ++i) {
            const std::size_t c = Node(s.n, i, j);
            const float u = s.U[c], v = s.V[c], rho = s.Rho[c], t = s.T[c];
            const float Vel_Sq = float(double(u) * u + double(v) * v);
            for (int k = 0; k <= 8; ++k) {
                const float E_Dot_U = float(double(Ex[k]) * u + double(Ey[k]) * v);
                const double b = (4.5 * E_Dot_U * E_Dot_U + 3.0 * E_Dot_U) + 1.0 - 1.5 * Vel_Sq;
                F_row[9 * i + k] = float(b * rho * W[k]);
                G_row[9 * i + k] = float(b * t * W[k]);
            }
        }
        s.links.Rows_In(j, j + 1, F_row, G_row);
    }
}

// A new run from the distributions and fields of another: the side walls at
// this run's temperatures, the old copies equal to the fields (the first
// residuals measure the first step), residuals and Nu_Hot at 0 as from rest.
// From another grid, the fields interpolated and the distributions at their
// equilibrium.
void Start_From(const Source& f, const Header& h, Run_State& s, Field& rows) {
    const bool same_grid = h.n == s.n && h.m == s.m;
    if (same_grid)
        Load_Fields(f, s, rows, false);
    else
        Interpolate_Fields(f, h, s);
    const int hot_wall = 0, cold_wall = s.n;
    for (int j = 0; j <= s.m; ++j) {
        s.T[Node(s.n, hot_wall, j)] = s.Parameters.T_Hot;
        s.T[Node(s.n, cold_wall, j)] = s.Parameters.T_Cold;
    }
    if (!same_grid)
        Equilibrium_Distributions(s, rows);
    s.U_Old = s.U;
    s.V_Old = s.V;
    s.T_Old = s.T;
}

// FILE is neither one of the files the run rewrites nor the parameter file,
// and its folder takes new files: found now rather than at the first report.
void Check_Place(const std::string& file) {
    namespace fs = std::filesystem;
    std::error_code ec;
    auto where = [&](const fs::path& p) { return fs::weakly_canonical(fs::absolute(p, ec), ec); };
    const fs::path place = where(file);
    std::vector<const char*> own{Parameter_File_Name};
    own.insert(own.end(), std::begin(Result_File_Names), std::end(Result_File_Names));
    own.insert(own.end(), std::begin(Temporary_File_Names), std::end(Temporary_File_Names));
    for (const char* name : own)
        if (place == where(name))
            throw Checkpoint_Error("checkpoint error: --checkpoint " + file + " is the run's own " +
                                   name + "; name another file");
    const fs::path folder = fs::path(file).parent_path();
    if (::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0)
        throw Output_Error("output error: cannot create " + file + ": " + std::strerror(errno));
}

// Where FILE is damaged: FILE.prev, if it is whole and of this run, is read
// in its place (kept's file and header become its own).
bool Take_Previous(Source& kept, Header& h, const Run_State& s, Checkpointing& keep) {
    Source prev(true, kept.path + ".prev");
    try {
        if (!Open(prev, false))
            return false;
        h = Check(prev, keep.rows);
        Check_Same_Run(prev, h, s, keep);
    } catch (const std::runtime_error&) {
        return false;
    }
    std::swap(kept.fd, prev.fd);
    kept.size = prev.size;
    return true;
}

} // namespace

int Begin_From_Files(Run_State& s, Checkpointing& keep) {
    if (keep.File.empty() && keep.Start_From.empty())
        return 0;
    Source start(false, keep.Start_From);
    Header from;
    if (!keep.Start_From.empty()) {
        Open(start, true);
        from = Check(start, keep.rows);
        keep.From_File = true;
        keep.Start_Checksum = from.checksum;
    }
    if (!keep.File.empty())
        Check_Place(keep.File);
    Source kept(true, keep.File);
    const bool going_on = !kept.path.empty() && Open(kept, false);
    Header h;
    std::string damage; // of FILE, where the run goes on from FILE.prev
    if (going_on) {
        try {
            h = Check(kept, keep.rows);
            Check_Same_Run(kept, h, s, keep);
        } catch (const Damaged_File& e) {
            if (!Take_Previous(kept, h, s, keep))
                throw;
            damage = e.what_is_wrong;
        }
    }
    // FILE is this run's now, and so is the temporary file beside it that a
    // run stopped earlier may have left (kept where FILE is refused: it may
    // hold the checkpoint before).
    if (!kept.path.empty())
        Remove_Temporary_File_Too(kept.path + ".tmp");
    if (!damage.empty()) {
        // FILE.prev becomes FILE again, so that the next checkpoint keeps it
        // as the one before; the damaged FILE is given up.
        if (::rename((kept.path + ".prev").c_str(), kept.path.c_str()) == 0)
            Flush_Folder_Of(kept.path);
        textio::Console_Note("note: " + kept.label + " " + damage + "; going on from " + kept.path +
                             ".prev, the checkpoint before it (moved to " + kept.path + ")");
    }
    if (going_on) {
        Go_On_From(kept, h, s, keep.rows);
        keep.Last_Step = h.step;
        textio::Console_Note("note: " + kept.label + ": going on from step " +
                             std::to_string(h.step));
        return h.step;
    }
    if (keep.From_File) {
        Start_From(start, from, s, keep.rows);
        textio::Console_Note("note: " + start.label + ": starting from the fields of its step " +
                             std::to_string(from.step) + " (Pr = " + Text(from.p.Pr) +
                             ", Ra = " + Text(from.p.Ra) + ")" +
                             (from.n == s.n && from.m == s.m
                                  ? ""
                                  : ", interpolated from its " + Grid(from.n, from.m) +
                                        " grid onto " + Grid(s.n, s.m) +
                                        ", its velocity times " +
                                        Text(float(Velocity_Scale(from, s))) +
                                        " (the ratio of the reference velocities) and at "
                                        "equilibrium"));
    }
    return 0;
}
