#include "setup/initialize.hpp"
#include "textio/console.hpp"
#include "textio/line_reader.hpp"

#include <cstdlib>

std::string Pause_Command(const std::string& line) {
    std::string text = line.substr(0, 128);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text.size() >= 2 ? text : std::string();
}

void Pause() {
    textio::Console_Plain_Line("Pause - Please enter a blank line (to continue) or a DOS command.");
    std::string line;
    if (!textio::Next_Line(textio::Console_Source(), line, "the answer to the pause"))
        return; // the end of the input goes on with the run
    std::string command = Pause_Command(line);
    if (!command.empty()) {
        textio::Console_Flush();
        std::fflush(nullptr);
        (void)std::system(command.c_str()); // its outcome does not change the run
    }
}
