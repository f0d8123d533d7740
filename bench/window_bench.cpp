// The readiness window on the real clock, against an empty bus: how long
// after the first look for READY the link gives up, over a few hundred
// time-outs. Next to it, the same polling loop with the original wall-clock
// reading (whole seconds plus whole milliseconds), which ends anywhere from
// 8 to 10 ms after it starts.
//
// Also the host's cost of one poll iteration (a clock reading and a port
// read) with the cheapest port read there is, and the parts of that cost.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <random>

#include "empty_bus.h"
#include "link/link.h"
#include "port/platform.h"
#include "samples.h"

namespace orvex::bench {
namespace {

const port::CardPorts kBase{0x340};
constexpr std::int64_t kTimeOuts = 300;
constexpr double kWindowMilliseconds = 9.0;
// How late a time-out may come: 0.1 ms after the end of the window.
constexpr double kLateMilliseconds = kWindowMilliseconds + 0.1;

// One time-out of the link: a command line to a bus that never shows READY.
// Returns the link's result, which must be 0.
int LinkTimeOut() {
  return link::SendCommand("1ST\r", kBase);
}

// The original clock reading: a wall clock read to whole milliseconds, as
// whole seconds plus the milliseconds times 0.001.
double WallClockSecondsInWholeMilliseconds() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(milliseconds);
  return static_cast<double>(seconds.count()) +
         static_cast<double>((milliseconds - seconds).count()) * 0.001;
}

// The original readiness wait on that reading; 0 when the window ran out.
int WallClockTimeOut() {
  const double t0 = WallClockSecondsInWholeMilliseconds();
  double t = 0.0;
  std::uint8_t value = 0;
  do {
    t = WallClockSecondsInWholeMilliseconds();
    value = port::ReadPortByte(kBase, port::Register::Handshake);
  } while (value != link::READY && !(t > t0 + 0.009));
  return t >= t0 + 0.009 ? 0 : 1;
}

// Spins for a pseudo-random part of a millisecond, so that time-outs start
// anywhere within a millisecond of the wall clock rather than right after the
// tick that ended the one before.
void SpinToRandomPhase(std::minstd_rand& random) {
  const std::chrono::microseconds spin(random() % 1000);
  const SteadyClock::time_point until = SteadyClock::now() + spin;
  while (SteadyClock::now() < until) {
  }
}

template <typename TimeOut>
void MeasureWindows(benchmark::State& state, TimeOut time_out) {
  Samples windows(kTimeOuts);
  std::int64_t missed_time_outs = 0;
  std::minstd_rand random;
  for (auto _ : state) {
    state.PauseTiming();
    SpinToRandomPhase(random);
    state.ResumeTiming();
    const SteadyClock::time_point start = SteadyClock::now();
    const int result = time_out();
    const SteadyClock::time_point end = SteadyClock::now();
    windows.Add(MillisecondsBetween(start, end));
    if (result != 0) ++missed_time_outs;
  }
  windows.Report(state, "window_ms");
  state.counters["late_windows"] = static_cast<double>(windows.CountAbove(kLateMilliseconds));
  windows.Report(state, "overshoot_ns", kWindowMilliseconds, kNanosecondsPerMillisecond);
  state.counters["not_timed_out"] = static_cast<double>(missed_time_outs);
}

void BM_ReadinessWindow_SteadyClock(benchmark::State& state) {
  MeasureWindows(state, LinkTimeOut);
}
BENCHMARK(BM_ReadinessWindow_SteadyClock)->Iterations(kTimeOuts)->Unit(benchmark::kMillisecond);

void BM_ReadinessWindow_WallClockMilliseconds(benchmark::State& state) {
  MeasureWindows(state, WallClockTimeOut);
}
BENCHMARK(BM_ReadinessWindow_WallClockMilliseconds)
    ->Iterations(kTimeOuts)
    ->Unit(benchmark::kMillisecond);

// Nanoseconds per call of `call`, over `times` calls.
template <typename Call>
double NanosecondsPerCall(std::int64_t times, Call call) {
  const SteadyClock::time_point start = SteadyClock::now();
  for (std::int64_t index = 0; index < times; ++index) benchmark::DoNotOptimize(call());
  const SteadyClock::time_point end = SteadyClock::now();
  return std::chrono::duration<double, std::nano>(end - start).count() / static_cast<double>(times);
}

// Per poll iteration of the link's readiness wait: the whole iteration, the
// empty bus's port read alone and the steady clock reading alone. The
// library's own work is the iteration less the port read, since on the card
// the bus cycle takes the port read's place.
void BM_PollIterationCost(benchmark::State& state) {
  const std::uint64_t reads_before = EmptyBusReads();
  const SteadyClock::time_point start = SteadyClock::now();
  for (auto _ : state) benchmark::DoNotOptimize(LinkTimeOut());
  const SteadyClock::time_point end = SteadyClock::now();
  const double polls = static_cast<double>(EmptyBusReads() - reads_before);
  const double poll_ns = std::chrono::duration<double, std::nano>(end - start).count() / polls;
  const auto calls = static_cast<std::int64_t>(polls);
  const double port_ns = NanosecondsPerCall(
      calls, [] { return port::ReadPortByte(kBase, port::Register::Handshake); });
  const double clock_ns = NanosecondsPerCall(calls, [] { return port::SteadyClockSeconds(); });
  state.counters["polls_per_window"] = polls / static_cast<double>(state.iterations());
  state.counters["poll_ns"] = poll_ns;
  state.counters["port_read_ns"] = port_ns;
  state.counters["clock_ns"] = clock_ns;
  state.counters["ns_per_access"] = poll_ns - port_ns;
}
BENCHMARK(BM_PollIterationCost)->Iterations(100)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace orvex::bench
