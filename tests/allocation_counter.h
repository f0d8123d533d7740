// Counts the program's heap allocations, for tests/allocation_test and the
// benchmarks: the executables that link allocation_counter.cpp replace the
// global operator new and delete with counting ones.
#pragma once

#include <cstdint>

namespace orvex::testing {

// Allocations made through operator new (every form) since the program started.
std::uint64_t HeapAllocations();

}  // namespace orvex::testing
