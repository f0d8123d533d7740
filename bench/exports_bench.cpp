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

void BM_Export(benchmark::State& state, int (*call)()) {
  std::uint64_t calls = 0;
  std::uint64_t failures = 0;
  std::uint64_t allocations = 0;
  const InstantControllerCounts before = InstantControllerCountsNow();
  for (auto _ : state) {
    const std::uint64_t allocations_before = HeapAllocations();
    const int result = call();
    allocations += HeapAllocations() - allocations_before;
    ++calls;
    if (result != 1) ++failures;
  }
  const InstantControllerCounts after = InstantControllerCountsNow();
  const auto per_call = [calls](std::uint64_t total) {
    return static_cast<double>(total) / static_cast<double>(calls);
  };
  const std::uint64_t accesses = after.Accesses() - before.Accesses();
  const std::uint64_t floor = after.Floor() - before.Floor();
  state.counters["accesses_per_call"] = per_call(accesses);
  state.counters["excess_accesses_per_call"] =
      (static_cast<double>(accesses) - static_cast<double>(floor)) / static_cast<double>(calls);
  state.counters["allocations_per_call"] = per_call(allocations);
  state.counters["failed_calls"] = static_cast<double>(failures);
  state.counters["protocol_errors"] =
      static_cast<double>(after.protocol_errors - before.protocol_errors);
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
