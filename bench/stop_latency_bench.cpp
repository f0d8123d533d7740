// How long a stop takes to reach the controller while other threads keep the
// registers busy: one thread waits in WS(1) on a moving axis, N others poll
// MT, and the benchmark calls ST(1). The time from the call to the moment the
// virtual controller has taken the last byte of "1ST\r", on the real clock.
// The virtual controller's own clock only decides when the axis would stop
// by itself, and a move of 1000 units keeps it going for the whole run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>
#include <vector>

#include "orvexportio.h"
#include "samples.h"
#include "virtual_bus.h"

namespace orvex::bench {
namespace {

std::atomic<bool> stop_hosts = false;
std::atomic<std::int64_t> stop_line_taken_ns = 0;

void RecordStopLine(const sim::ReceivedLine& line) {
  if (line.Text() == "1ST\r") {
    stop_line_taken_ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now().time_since_epoch())
            .count();
  }
}

void BM_StopLatency(benchmark::State& state) {
  const auto pollers = static_cast<int>(state.range(0));
  sim::TheController().Reset();
  sim::TheController().SetLineObserver(RecordStopLine);
  (void)MR(1, 1000.0F);
  stop_hosts = false;
  std::vector<std::thread> hosts;
  hosts.emplace_back([] {
    while (!stop_hosts) (void)WS(1);
  });
  for (int poller = 0; poller < pollers; ++poller) {
    hosts.emplace_back([] {
      while (!stop_hosts) (void)MT(1);
    });
  }
  Samples latencies(static_cast<std::size_t>(state.max_iterations));
  std::int64_t failures = 0;
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    stop_line_taken_ns = 0;
    const SteadyClock::time_point called = SteadyClock::now();
    if (ST(1) != 1 || stop_line_taken_ns == 0) {
      ++failures;
    } else {
      const double taken_ns = static_cast<double>(stop_line_taken_ns.load());
      const double called_ns = static_cast<double>(
          std::chrono::duration_cast<std::chrono::nanoseconds>(called.time_since_epoch()).count());
      latencies.Add((taken_ns - called_ns) / kNanosecondsPerMillisecond);
    }
    (void)MR(1, 1000.0F);  // moving again for the next stop
  }
  stop_hosts = true;
  for (std::thread& host : hosts) host.join();
  sim::TheController().SetLineObserver(nullptr);
  latencies.Report(state, "stop_ms");
  state.counters["failed_stops"] = static_cast<double>(failures);
}
BENCHMARK(BM_StopLatency)
    ->ArgName("pollers")
    ->Arg(0)
    ->Arg(16)
    ->Arg(62)
    ->Iterations(300)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvex::bench
