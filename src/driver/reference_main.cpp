// cavity-reference: the same program on the straightforward procedures, for
// tests and benchmarks that compare it with the fast one.
#include "driver/main_program.hpp"
#include "driver/program_entry.hpp"

int main() {
    return Program_Entry(Solver::Reference);
}
