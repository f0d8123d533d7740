// The host's cost of the link per port access on whole lines, against the
// instant controller: the time the link takes per access, less the time the
// instant controller itself takes for the same accesses when a plain script
// drives them without the link (no clock, no window, no bounds, no lock).
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>

#include "instant_controller.h"
#include "link/link.h"
#include "orvexportio.h"
#include "port/platform.h"
#include "samples.h"

namespace orvex::bench {
namespace {

const port::CardPorts kBase{0x340};
constexpr port::Register kData = port::Register::Data;
constexpr port::Register kHandshake = port::Register::Handshake;
constexpr std::string_view kCommandLine = "1PA 250\r";
constexpr std::string_view kPositionQuery = "1TP\r";

std::uint64_t Accesses() {
  return InstantControllerCountsNow().Accesses();
}

// The floor's accesses for one command line, in the link's order, with no
// waiting: the instant controller always answers on the first look.
void ScriptCommandLine(std::string_view line) {
  for (const char character : line) {
    benchmark::DoNotOptimize(port::ReadPortByte(kBase, kHandshake));
    port::WritePortByte(kBase, kData, static_cast<std::uint8_t>(character));
    port::WritePortByte(kBase, kHandshake, link::STROBE);
    benchmark::DoNotOptimize(port::ReadPortByte(kBase, kHandshake));
    port::WritePortByte(kBase, kHandshake, link::RELEASE);
  }
  benchmark::DoNotOptimize(port::ReadPortByte(kBase, kHandshake));
}

void ScriptReplyLine() {
  std::uint8_t byte = 0;
  do {
    benchmark::DoNotOptimize(port::ReadPortByte(kBase, kHandshake));
    port::WritePortByte(kBase, kHandshake, link::STROBE);
    benchmark::DoNotOptimize(port::ReadPortByte(kBase, kHandshake));
    byte = port::ReadPortByte(kBase, kData);
    port::WritePortByte(kBase, kHandshake, link::RELEASE);
  } while (byte != link::LINE_FEED);
  benchmark::DoNotOptimize(port::ReadPortByte(kBase, kHandshake));
}

double NanosecondsPerAccess(SteadyClock::time_point start, SteadyClock::time_point end,
                            std::uint64_t accesses) {
  return std::chrono::duration<double, std::nano>(end - start).count() /
         static_cast<double>(accesses);
}

// Times `transfer` through the link as the benchmark, then `script`, the
// same accesses without the link, as often; reports the cost per access of
// both and the difference, which is the link's own. `transfer` returns
// whether the link went through; one that did not (a window that ran out
// while the host was busy elsewhere) sets the controller back and is
// counted. Its time-out is in the figures then, so run again.
template <typename Transfer, typename Script>
void MeasureLinkCost(benchmark::State& state, Transfer transfer, Script script) {
  std::uint64_t failures = 0;
  std::uint64_t accesses_before = Accesses();
  SteadyClock::time_point start = SteadyClock::now();
  for (auto _ : state) {
    if (transfer()) continue;
    ++failures;
    ResetInstantController();
  }
  const double link_ns =
      NanosecondsPerAccess(start, SteadyClock::now(), Accesses() - accesses_before);
  accesses_before = Accesses();
  start = SteadyClock::now();
  for (benchmark::IterationCount index = 0; index < state.iterations(); ++index) script();
  const double script_ns =
      NanosecondsPerAccess(start, SteadyClock::now(), Accesses() - accesses_before);
  state.counters["total_ns_per_access"] = link_ns;
  state.counters["controller_ns_per_access"] = script_ns;
  state.counters["ns_per_access"] = link_ns - script_ns;
  state.counters["failed_transfers"] = static_cast<double>(failures);
}

// A command line, "1PA 250\r".
void BM_LinkCostPerAccess_CommandLine(benchmark::State& state) {
  MeasureLinkCost(
      state, [] { return link::SendCommand(kCommandLine, kBase) == 1; },
      [] { ScriptCommandLine(kCommandLine); });
}
BENCHMARK(BM_LinkCostPerAccess_CommandLine);

// A position query, "1TP\r" out and "+250\r\n" back.
void BM_LinkCostPerAccess_Query(benchmark::State& state) {
  std::array<std::uint8_t, 80> buffer{};
  MeasureLinkCost(
      state,
      [&buffer] {
        return link::SendCommand(kPositionQuery, kBase) == 1 &&
               link::ReadReply(buffer, kBase).delivered == 1;
      },
      [] {
        ScriptCommandLine(kPositionQuery);
        ScriptReplyLine();
      });
}
BENCHMARK(BM_LinkCostPerAccess_Query);

// The same command line through the export, MA(1, 2.5): the conversion, the
// formatting and the lock that holds the registers for the line come on top.
void BM_LinkCostPerAccess_Export(benchmark::State& state) {
  MeasureLinkCost(
      state, [] { return MA(1, 2.5F) == 1; }, [] { ScriptCommandLine(kCommandLine); });
}
BENCHMARK(BM_LinkCostPerAccess_Export);

}  // namespace
}  // namespace orvex::bench
