// The 50 ms pauses of RT on the real clock: the pause alone, and RT(1) whole
// (three pauses and four lines to the instant controller).
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>

#include "instant_controller.h"
#include "orvexportio.h"
#include "port/platform.h"
#include "samples.h"

namespace orvex::bench {
namespace {

constexpr unsigned kPauseMilliseconds = 50;
constexpr double kAxis1Pauses = 3;

void BM_Pause50ms(benchmark::State& state) {
  Samples pauses(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    const SteadyClock::time_point start = SteadyClock::now();
    port::PauseMilliseconds(kPauseMilliseconds);
    pauses.Add(MillisecondsBetween(start, SteadyClock::now()));
  }
  pauses.Report(state, "pause_ms");
  pauses.Report(state, "overshoot_us", kPauseMilliseconds, kMicrosecondsPerMillisecond);
}
BENCHMARK(BM_Pause50ms)->Iterations(100)->Unit(benchmark::kMillisecond);

// RT(1)'s time over its three nominal pauses, shared out per pause; the four
// lines' transfer (a few microseconds here) is counted in.
void BM_SetupSequenceAxis1(benchmark::State& state) {
  Samples overshoots(static_cast<std::size_t>(state.max_iterations));
  std::int64_t failures = 0;
  for (auto _ : state) {
    const SteadyClock::time_point start = SteadyClock::now();
    if (RT(1) != 1) {
      ++failures;
      ResetInstantController();
    }
    const double elapsed = MillisecondsBetween(start, SteadyClock::now());
    overshoots.Add((elapsed - kAxis1Pauses * kPauseMilliseconds) / kAxis1Pauses);
  }
  overshoots.Report(state, "overshoot_per_pause_us", 0.0, kMicrosecondsPerMillisecond);
  state.counters["failed_calls"] = static_cast<double>(failures);
}
BENCHMARK(BM_SetupSequenceAxis1)->Iterations(30)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvex::bench
