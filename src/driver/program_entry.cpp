#include "driver/program_entry.hpp"

#include "driver/main_program.hpp"
#include "driver/options.hpp"
#include "process/folder_lock.hpp"
#include "process/kernel_choice.hpp"
#include "process/run_time.hpp"
#include "results/result_files.hpp"
#include "textio/console.hpp"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <unistd.h>

namespace {

void Report_Error(const char* message) {
    textio::Console_Close();
    (void)!::write(2, message, std::strlen(message));
    (void)!::write(2, "\n", 1);
}

void Write_Out(const std::string& text) {
    (void)!::write(1, text.data(), text.size());
}

} // namespace

int Program_Entry(Solver solver, int argc, const char* const* argv) {
    // Temporary files in the folder are another run's until this one holds
    // the folder.
    Own_Temporary_Files(false);
    // A file-size limit should fail the write, which is reported, rather
    // than kill the run.
    std::signal(SIGXFSZ, SIG_IGN);
    Enable_Floating_Point_Traps();
    Enable_Interruption_Cleanup();
    int status = 1;
    try {
        const Run_Options options = Parse_Options(argc, argv);
        Choose_Kernels(std::getenv("CAVITY_KERNELS"));
        if (options.help) {
            Write_Out(Usage_Text());
            return 0;
        }
        if (options.version) {
            Write_Out(Version_Text(options.Scheme_Used));
            return 0;
        }
        // Before the dialogue: a run refused the folder is told at once, and
        // nothing of another run's files is touched before it holds it.
        Lock_Working_Folder();
        Own_Temporary_Files(true);
        Check_Result_Files_Can_Be_Written();
        status = Main_Program(solver, options);
    } catch (const std::bad_alloc&) {
        Report_Error("run-time error: out of memory");
    } catch (const std::exception& e) {
        Report_Error(e.what());
    }
    Remove_Temporary_Files();
    Unlock_Working_Folder();
    textio::Console_Close();
    return status;
}
