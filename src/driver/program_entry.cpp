#include "driver/program_entry.hpp"

#include "driver/run_time.hpp"
#include "results/result_files.hpp"
#include "textio/console.hpp"

#include <csignal>
#include <cstring>
#include <exception>
#include <new>
#include <unistd.h>

namespace {

void Report_Error(const char* message) {
    textio::Console_Close();
    (void)!::write(2, message, std::strlen(message));
    (void)!::write(2, "\n", 1);
}

} // namespace

int Program_Entry(Solver solver) {
    // A file-size limit should fail the write, which is reported, rather
    // than kill the run.
    std::signal(SIGXFSZ, SIG_IGN);
    Enable_Floating_Point_Traps();
    Enable_Interruption_Cleanup();
    int status = 1;
    try {
        status = Main_Program(solver);
    } catch (const std::bad_alloc&) {
        Report_Error("run-time error: out of memory");
    } catch (const std::exception& e) {
        Report_Error(e.what());
    }
    Remove_Temporary_Files();
    textio::Console_Close();
    return status;
}
