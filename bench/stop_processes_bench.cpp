// How long a stop takes across processes: one process waits in WS(1) on a
// moving axis, three more poll MT, and this one calls ST(1), on one virtual
// card the processes share by name (as processes share a card), each line
// holding the card machine-wide. The time from the call until ST returns,
// the stop delivered, on the real clock. A plain program: the figures are
// across processes, which Google Benchmark's threads do not measure.
#include <signal.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "orvexportio.h"
#include "shared_bus.h"
#include "shared_memory.h"
#include "virtual_bus.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStops = 300;
constexpr int kPollers = 3;

bool Share(const std::string& name) {
  std::string why;
  if (orvex::sim::ShareTheBus(name, why)) return true;
  std::fprintf(stderr, "orvex_bench_stop_processes: %s\n", why.c_str());
  return false;
}

pid_t Start(const std::string& name, std::atomic<bool>& done, const std::function<void()>& call) {
  const pid_t child = fork();
  if (child == 0) {
    if (!Share(name)) _exit(1);
    while (!done.load()) call();
    _exit(0);
  }
  return child;
}

double Percentile(std::vector<double> values, double fraction) {
  std::sort(values.begin(), values.end());
  const auto at = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
  return values[at];
}

}  // namespace

int main() {
  char folder[] = "/tmp/orvex-bench-records-XXXXXX";
  if (mkdtemp(folder) == nullptr || setenv("ORVEXPORTIO_RECORD_DIR", folder, 1) != 0) return 1;
  const std::string name = "bench-stop-" + std::to_string(getpid());
  if (!Share(name)) return 1;
  orvex::sim::TheController().Reset();
  orvex::sim::TheController().SetClock(orvex::sim::Clock::Virtual);
  (void)MR(1, 1000.0F);  // 100000 units: moving for the whole run
  auto* done = new (mmap(nullptr, sizeof(std::atomic<bool>), PROT_READ | PROT_WRITE,
                         MAP_SHARED | MAP_ANONYMOUS, -1, 0)) std::atomic<bool>(false);
  std::vector<pid_t> children{Start(name, *done, [] { (void)WS(1); })};
  for (int poller = 0; poller < kPollers; ++poller) {
    children.push_back(Start(name, *done, [] { (void)MT(1); }));
  }
  std::vector<double> latencies;
  int failures = 0;
  for (int stop = 0; stop < kStops; ++stop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const Clock::time_point called = Clock::now();
    if (ST(1) != 1) {
      ++failures;
    } else {
      latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - called).count());
    }
    (void)MR(1, 1000.0F);
  }
  done->store(true);
  for (const pid_t child : children) waitpid(child, nullptr, 0);
  (void)orvex::sim::RemoveSharedBus(name);
  if (latencies.empty()) return 1;
  std::printf(
      "stop latency across processes, WS in one and MT in %d more: median %.3f ms, "
      "p99 %.3f ms, max %.3f ms, %d of %d stops failed\n",
      kPollers, Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0),
      failures, kStops);
  return 0;
}
