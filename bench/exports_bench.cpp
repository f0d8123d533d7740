// Every export against the instant controller: port accesses per call held
// against the floor, and heap allocations per call (there must be none).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "allocation_counter.h"
#include "instant_controller.h"
#include "orvexportio.h"

namespace orvex::bench {
namespace {

struct ExportCall {
  const char* name;
  int (*call)();
};

// Axis code 0 where the export takes it, so both axes' lines go out.
const ExportCall kExportCalls[] = {
    {"MA(0,2.5)", [] { return MA(0, 2.5F); }},
    {"MR(0,-0.019)", [] { return MR(0, -0.019F); }},
    {"SV(0,-1)", [] { return SV(0, -1.0F); }},
    {"ST(0)", [] { return ST(0); }},
    {"DH(0)", [] { return DH(0); }},
    {"GH(0)", [] { return GH(0); }},
    {"TP(1)", [] { return TP(1) == 2.5F ? 1 : 0; }},
    {"TP(2)", [] { return TP(2) == 2.5F ? 1 : 0; }},
    {"OK()", [] { return OK(); }},
    {"MT(0)", [] { return MT(0); }},
    {"WS(0)", [] { return WS(0); }},
    {"RT(1)", [] { return RT(1); }},
    {"RT(2)", [] { return RT(2); }},
    {"RT(0)", [] { return RT(0); }},
};

// Accesses and the floor over the calls that went through; a call the link
// gave up on (a window that ran out while the host was busy elsewhere) is
// counted apart, and the controller is set back.
struct CallTally {
  std::uint64_t calls = 0;
  std::uint64_t accesses = 0;
  std::uint64_t floor = 0;
  std::uint64_t allocations = 0;
  std::uint64_t protocol_errors = 0;
  std::uint64_t failures = 0;

  void Add(const InstantControllerCounts& before, const InstantControllerCounts& after,
           std::uint64_t call_allocations, bool delivered) {
    allocations += call_allocations;
    if (!delivered) {
      ++failures;
      ResetInstantController();
      return;
    }
    ++calls;
    accesses += after.Accesses() - before.Accesses();
    floor += after.Floor() - before.Floor();
    protocol_errors += after.protocol_errors - before.protocol_errors;
  }

  double PerCall(double total) const { return total / static_cast<double>(calls); }
};

void BM_Export(benchmark::State& state, int (*call)()) {
  CallTally tally;
  for (auto _ : state) {
    const InstantControllerCounts before = InstantControllerCountsNow();
    const std::uint64_t allocations_before = testing::HeapAllocations();
    const int result = call();
    const std::uint64_t allocations = testing::HeapAllocations() - allocations_before;
    tally.Add(before, InstantControllerCountsNow(), allocations, result == 1);
  }
  const auto calls = static_cast<double>(tally.calls + tally.failures);
  state.counters["accesses_per_call"] = tally.PerCall(static_cast<double>(tally.accesses));
  state.counters["excess_accesses_per_call"] =
      tally.PerCall(static_cast<double>(tally.accesses) - static_cast<double>(tally.floor));
  state.counters["allocations_per_call"] = static_cast<double>(tally.allocations) / calls;
  state.counters["failed_calls"] = static_cast<double>(tally.failures);
  state.counters["protocol_errors"] = static_cast<double>(tally.protocol_errors);
}

[[maybe_unused]] const bool registered = [] {
  for (const ExportCall& export_call : kExportCalls) {
    benchmark::RegisterBenchmark((std::string("BM_Export/") + export_call.name).c_str(), BM_Export,
                                 export_call.call)
        ->UseRealTime();
  }
  return true;
}();

}  // namespace
}  // namespace orvex::bench
