// Port accesses per byte and per line against the instant controller, in
// both directions. The handshake cannot carry a line in fewer accesses than
// ProtocolFloor (access_floor.h), so every access beyond it is a defect of
// the link.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "access_floor.h"
#include "instant_controller.h"
#include "link/link.h"

namespace orvex::bench {
namespace {

const port::CardPorts kBase{0x340};

std::uint64_t Accesses() {
  return InstantControllerCountsNow().Accesses();
}

// Accesses one line takes, in either direction, summed over the lines that
// went through. A line the link gave up on (a window that ran out while the
// host was busy elsewhere) is counted apart, and the controller is set back.
struct LineTally {
  std::uint64_t bytes_per_line = 0;
  std::uint64_t lines = 0;
  std::uint64_t accesses = 0;
  std::uint64_t failures = 0;

  void Add(std::uint64_t line_accesses, bool delivered) {
    if (!delivered) {
      ++failures;
      ResetInstantController();
      return;
    }
    ++lines;
    accesses += line_accesses;
  }
  double PerLine() const { return static_cast<double>(accesses) / static_cast<double>(lines); }
};

// Fits accesses = per_byte * bytes + per_line to a short and a long line and
// reports both terms, and the accesses above the floor per line.
void ReportFit(benchmark::State& state, const LineTally& short_line, const LineTally& long_line) {
  const double per_byte = (long_line.PerLine() - short_line.PerLine()) /
                          static_cast<double>(long_line.bytes_per_line - short_line.bytes_per_line);
  state.counters["accesses_per_byte"] = per_byte;
  state.counters["accesses_per_line"] =
      short_line.PerLine() - per_byte * static_cast<double>(short_line.bytes_per_line);
  const std::uint64_t floor = ProtocolFloor(short_line.bytes_per_line, 1) * short_line.lines +
                              ProtocolFloor(long_line.bytes_per_line, 1) * long_line.lines;
  const auto lines = static_cast<double>(short_line.lines + long_line.lines);
  state.counters["excess_accesses_per_line"] =
      (static_cast<double>(short_line.accesses + long_line.accesses) - static_cast<double>(floor)) /
      lines;
  state.counters["failed_lines"] = static_cast<double>(short_line.failures + long_line.failures);
}

LineTally TallyFor(std::string_view line) {
  return {.bytes_per_line = line.size()};
}

void SendAndTally(std::string_view line, LineTally& tally) {
  const std::uint64_t before = Accesses();
  const int delivered = link::SendCommand(line, kBase);
  tally.Add(Accesses() - before, delivered == 1);
}

// Command lines: a short one and the longest the library sends.
void BM_CommandLineAccesses(benchmark::State& state) {
  constexpr std::string_view kShort = "1ST\r";
  constexpr std::string_view kLong = "1VA1000;AC50000\r";
  LineTally short_line = TallyFor(kShort);
  LineTally long_line = TallyFor(kLong);
  for (auto _ : state) {
    SendAndTally(kShort, short_line);
    SendAndTally(kLong, long_line);
  }
  ReportFit(state, short_line, long_line);
}
BENCHMARK(BM_CommandLineAccesses);

void ReceiveAndTally(LineTally& tally) {
  std::array<std::uint8_t, 80> buffer{};
  if (link::SendCommand("1TP\r", kBase) != 1) {
    tally.Add(0, false);
    return;
  }
  const std::uint64_t before = Accesses();
  const link::ReplyResult reply = link::ReadReply(buffer, kBase);
  tally.Add(Accesses() - before, reply.delivered == 1);
}

// Reply lines: a bare line feed and a long position.
void BM_ReplyLineAccesses(benchmark::State& state) {
  constexpr std::string_view kShort = "\n";
  constexpr std::string_view kLong = "-1234567890.12\r\n";
  LineTally short_line = TallyFor(kShort);
  LineTally long_line = TallyFor(kLong);
  for (auto _ : state) {
    SetPositionAnswer(kShort);
    ReceiveAndTally(short_line);
    SetPositionAnswer(kLong);
    ReceiveAndTally(long_line);
  }
  SetPositionAnswer("+250\r\n");
  ReportFit(state, short_line, long_line);
}
BENCHMARK(BM_ReplyLineAccesses);

}  // namespace
}  // namespace orvex::bench
