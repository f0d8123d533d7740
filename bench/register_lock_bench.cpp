// The register lock under many host threads, against the instant controller
// on the real clock: how many exchanges per second get through in all, and
// the longest single call, with 1 to 256 threads calling MT at once.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "orvexportio.h"
#include "samples.h"

namespace orvex::bench {
namespace {

std::atomic<std::int64_t> longest_call_ns = 0;
std::atomic<std::int64_t> failed_calls = 0;

void KeepLongest(std::int64_t nanoseconds) {
  std::int64_t longest = longest_call_ns.load(std::memory_order_relaxed);
  while (nanoseconds > longest &&
         !longest_call_ns.compare_exchange_weak(longest, nanoseconds, std::memory_order_relaxed)) {
  }
}

// One exchange per iteration: the status query and its reply.
void BM_ExchangesAcrossThreads(benchmark::State& state) {
  if (state.thread_index() == 0) {
    longest_call_ns = 0;
    failed_calls = 0;
  }
  for (auto _ : state) {
    const SteadyClock::time_point start = SteadyClock::now();
    if (MT(1) != 1) ++failed_calls;
    KeepLongest(
        std::chrono::duration_cast<std::chrono::nanoseconds>(SteadyClock::now() - start).count());
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    // Read after the other threads' loops: Google Benchmark lets every
    // thread out of its loop together.
    state.counters["longest_call_ms"] =
        static_cast<double>(longest_call_ns.load()) / kNanosecondsPerMillisecond;
    state.counters["failed_calls"] = static_cast<double>(failed_calls.load());
  }
}
BENCHMARK(BM_ExchangesAcrossThreads)
    ->Threads(1)
    ->Threads(4)
    ->Threads(16)
    ->Threads(64)
    ->Threads(256)
    ->UseRealTime()
    ->MinTime(1.0);

// Cards side by side: each thread drives a card of its own through the card
// API (0x340, 0x300), one exchange per iteration. `exchanges_per_card` is
// one card's exchanges per second: with one thread, a card alone; with two,
// each of two cards driven at once, which share no queue.
void BM_CardsSideBySide(benchmark::State& state) {
  static orvex_card* const cards[] = {orvex_open(0x340, nullptr), orvex_open(0x300, nullptr)};
  orvex_card* card = cards[state.thread_index() % 2];
  std::int64_t failed = 0;
  int at_rest = 0;
  for (auto _ : state) {
    if (orvex_mt(card, 1, &at_rest) != ORVEX_SUCCESS) ++failed;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["exchanges_per_card"] =
      benchmark::Counter(static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kAvgThreads);
  state.counters["failed_calls"] =
      benchmark::Counter(static_cast<double>(failed), benchmark::Counter::kDefaults);
}
BENCHMARK(BM_CardsSideBySide)->Threads(1)->Threads(2)->UseRealTime()->MinTime(1.0);

}  // namespace
}  // namespace orvex::bench
