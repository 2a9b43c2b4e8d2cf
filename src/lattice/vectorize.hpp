#pragma once
// Tells the compiler that the iterations of the next loop touch disjoint
// elements, so it vectorises loops over many row planes without alias checks.
#if defined(__clang__)
#define INDEPENDENT_ITERATIONS // clang vectorises these with its own alias checks
#elif defined(__GNUC__)
#define INDEPENDENT_ITERATIONS _Pragma("GCC ivdep")
#else
#define INDEPENDENT_ITERATIONS
#endif
