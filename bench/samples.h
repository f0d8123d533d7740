// Durations collected one per benchmark iteration, summed up as counters.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace orvex::bench {

using SteadyClock = std::chrono::steady_clock;

inline constexpr double kNanosecondsPerMillisecond = 1e6;
inline constexpr double kMicrosecondsPerMillisecond = 1e3;

inline double MillisecondsBetween(SteadyClock::time_point start, SteadyClock::time_point end) {
  return std::chrono::duration<double, std::milli>(end - start).count();
}

class Samples {
 public:
  explicit Samples(std::size_t expected) { values_.reserve(expected); }

  void Add(double value) { values_.push_back(value); }

  std::size_t CountAbove(double limit) const {
    return static_cast<std::size_t>(std::count_if(values_.begin(), values_.end(),
                                                  [limit](double value) { return value > limit; }));
  }

  // Sets `<name>_min`, `_median`, `_p99` and `_max` to (value - offset) *
  // scale: offset 0 for the durations themselves, the nominal length for an
  // overshoot; scale to print small values in a smaller unit.
  void Report(benchmark::State& state, const std::string& name, double offset = 0.0,
              double scale = 1.0) {
    if (values_.empty()) return;
    std::sort(values_.begin(), values_.end());
    const auto counter = [offset, scale](double value) { return (value - offset) * scale; };
    state.counters[name + "_min"] = counter(values_.front());
    state.counters[name + "_median"] = counter(Quantile(0.5));
    state.counters[name + "_p99"] = counter(Quantile(0.99));
    state.counters[name + "_max"] = counter(values_.back());
  }

 private:
  // The sorted value at rank fraction * (count - 1), rounded down.
  double Quantile(double fraction) const {
    const auto rank = static_cast<std::size_t>(fraction * static_cast<double>(values_.size() - 1));
    return values_[rank];
  }

  std::vector<double> values_;
};

}  // namespace orvex::bench
