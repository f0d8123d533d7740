// How closely the virtual controller on the real clock keeps to the motion
// profile, seen from a host: the time from MA's return until the host sees
// the axis done, against the profile's time, for a host that waits with WS
// (polling without pause) and for one that asks MT every 10 ms. Also the
// length of RT's pauses. Prints a table for BENCHMARKS.md.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "orvexportio.h"
#include "virtual_bus.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 5;
constexpr double kSpeed = 1000.0;          // counts a second, after a reset
constexpr double kAcceleration = 50000.0;  // counts a second squared

// A move of `counts` that reaches full speed: cruise plus one ramp's worth.
double ProfileSeconds(double counts) {
  return counts / kSpeed + kSpeed / kAcceleration;
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

enum class Polling { Tight, Every10Ms };

double TimedMove(float units, Polling polling) {
  orvex::sim::TheController().Reset();
  if (MA(1, units) != 1) return -1.0;
  const auto start = Clock::now();
  if (polling == Polling::Tight) {
    if (WS(1) != 1) return -1.0;
  } else {
    while (MT(1) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return SecondsSince(start);
}

struct Errors {
  double mean = 0.0;
  double worst = 0.0;  // largest in magnitude, with its sign
};

Errors MeasureMove(float units, Polling polling) {
  const double profile = ProfileSeconds(static_cast<double>(units) * 100.0);
  Errors errors;
  for (int run = 0; run < kRuns; ++run) {
    const double error = TimedMove(units, polling) - profile;
    errors.mean += error / kRuns;
    if (std::abs(error) > std::abs(errors.worst)) errors.worst = error;
  }
  return errors;
}

}  // namespace

int main() {
  orvex::sim::TheController().SetClock(orvex::sim::Clock::Real);
  std::printf(
      "| move | profile | host polls | mean error | worst error | worst, %% of profile |\n");
  std::printf("|---|---|---|---|---|---|\n");
  for (const float units : {2.5F, 20.0F}) {
    const double profile = ProfileSeconds(static_cast<double>(units) * 100.0);
    for (const Polling polling : {Polling::Tight, Polling::Every10Ms}) {
      const Errors errors = MeasureMove(units, polling);
      std::printf("| MA(1, %.1f) | %.3f s | %s | %+.2f ms | %+.2f ms | %+.2f %% |\n",
                  static_cast<double>(units), profile,
                  polling == Polling::Tight ? "WS, without pause" : "MT every 10 ms",
                  errors.mean * 1e3, errors.worst * 1e3, errors.worst / profile * 100.0);
    }
  }
  double worst_pause = 0.0;
  for (int run = 0; run < kRuns; ++run) {
    orvex::sim::TheController().Reset();
    const auto start = Clock::now();
    if (RT(1) != 1) return 1;
    worst_pause = std::max(worst_pause, SecondsSince(start) - 0.150);
  }
  std::printf("\nRT(1), three pauses of 50 ms: at most %+.2f ms over 150 ms in %d runs\n",
              worst_pause * 1e3, kRuns);
  return 0;
}
