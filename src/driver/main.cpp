// cavity: natural convection in a side-heated cavity, lattice Boltzmann.
#include "driver/program_entry.hpp"

int main(int argc, char** argv) {
    return Program_Entry(Solver::Fast, argc, argv);
}
