// Several processes on one card: how many lines they move together, against
// one process alone, with a controller whose every port access takes a
// microsecond, as an ISA card's does. The controller is the instant one, in
// memory the forked processes share; the card's machine-wide record is the
// library's own, in a folder of this run.
//
// A plain program: the figures are whole-process rates, which Google
// Benchmark's threads do not measure.
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "instant_controller.h"
#include "orvexportio.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::nanoseconds kAccessCost{1000};

// Sends ST(2) until `until`; returns the lines delivered.
std::uint64_t SendUntil(Clock::time_point until) {
  std::uint64_t lines = 0;
  while (Clock::now() < until) {
    if (ST(2) == 1) ++lines;
  }
  return lines;
}

struct Together {
  double lines_per_second = 0.0;
  double fewest_against_mean = 0.0;  // one process's fewest lines, against the mean
};

// Lines per second that `processes` processes move together in `seconds`.
Together LinesPerSecond(int processes, double seconds) {
  const Clock::time_point start = Clock::now() + std::chrono::milliseconds(200);
  const auto until =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  std::vector<int> results;
  for (int process = 0; process < processes; ++process) {
    int ends[2];
    if (pipe(ends) != 0) return {};
    if (fork() == 0) {
      close(ends[0]);
      while (Clock::now() < start) {
      }
      const std::uint64_t lines = SendUntil(until);
      (void)!write(ends[1], &lines, sizeof lines);
      _exit(0);
    }
    close(ends[1]);
    results.push_back(ends[0]);
  }
  std::uint64_t total = 0;
  std::uint64_t fewest = UINT64_MAX;
  for (const int result : results) {
    std::uint64_t lines = 0;
    if (read(result, &lines, sizeof lines) != sizeof lines) lines = 0;
    total += lines;
    fewest = std::min(fewest, lines);
    close(result);
  }
  while (wait(nullptr) > 0) {
  }
  const double mean = static_cast<double>(total) / processes;
  return {static_cast<double>(total) / seconds,
          mean > 0.0 ? static_cast<double>(fewest) / mean : 0.0};
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::stod(argv[1]) : 3.0;
  char folder[] = "/tmp/orvex-bench-records-XXXXXX";
  if (mkdtemp(folder) == nullptr || setenv("ORVEXPORTIO_RECORD_DIR", folder, 1) != 0 ||
      !orvex::bench::ShareInstantControllersWithChildren()) {
    std::fprintf(stderr, "orvex_bench_processes: cannot set up\n");
    return 1;
  }
  orvex::bench::SetInstantControllerAccessCost(kAccessCost);
  const double alone = LinesPerSecond(1, seconds).lines_per_second;
  std::printf("lines per second, 1 process: %.0f\n", alone);
  for (const int processes : {2, 4}) {
    const Together together = LinesPerSecond(processes, seconds);
    std::printf(
        "lines per second, %d processes together: %.0f (%.1f %% of one); the fewest of one "
        "process: %.0f %% of the mean\n",
        processes, together.lines_per_second, 100.0 * together.lines_per_second / alone,
        100.0 * together.fewest_against_mean);
  }
  std::printf(
      "protocol errors at the controller: %llu\n",
      static_cast<unsigned long long>(orvex::bench::InstantControllerCountsNow().protocol_errors));
  return 0;
}
