#pragma once
#include <stdexcept>

// Parameters that the run cannot start from.
struct Parameter_Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};
