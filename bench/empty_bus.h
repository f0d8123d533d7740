// The benchmarks' empty bus, seen from the benchmark side: every port reads
// 0xFF and every write goes nowhere, so no readiness window is ever met.
#pragma once

#include <cstdint>

namespace orvex::bench {

// Port reads made since the program started.
std::uint64_t EmptyBusReads();

}  // namespace orvex::bench
