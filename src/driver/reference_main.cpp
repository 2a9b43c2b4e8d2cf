// cavity-reference: the same program on the straightforward procedures, for
// tests and benchmarks that compare it with the fast one.
#include "driver/program_entry.hpp"

int main(int argc, char** argv) {
    return Program_Entry(Solver::Reference, argc, argv);
}
