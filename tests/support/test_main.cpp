// Unit tests run under the floating-point environment of a real run, so an
// invalid operation, division by zero or overflow in the code under test
// ends the test program with the same report.
#include "process/run_time.hpp"

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    Enable_Floating_Point_Traps();
    return RUN_ALL_TESTS();
}
