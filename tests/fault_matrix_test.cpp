// Every export against every way the controller can misbehave: the export
// reports its failure value within a bounded time, sends nothing after the
// fault, and the next call against a healthy controller works.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "orvexportio.h"
#include "setup_lines.h"
#include "virtual_controller_fixture.h"

namespace orvex::testing {
namespace {

constexpr float kPositionError = ORVEX_POSITION_ERROR;

// How long one failed exchange may take: a missed readiness window, or an
// acknowledgement that never comes.
constexpr sim::Microseconds kMissedWindow = 10'000;
constexpr sim::Microseconds kMissedAcknowledgement = 1'010'000;
// What a healthy RT(2) spends in its pauses, and how long WS keeps asking a
// controller that does not answer.
constexpr sim::Microseconds kSetupPauses = 100'000;
constexpr sim::Microseconds kStatusSilence = 1'000'000;

struct ExportUnderTest {
  const char* name;
  std::function<float()> call;  // every result fits a float exactly
  float failure;
  float healthy;  // against a healthy controller at rest at zero
  Lines lines;    // what a healthy controller receives
  bool queries;
};

std::vector<ExportUnderTest> Exports() {
  return {
      {"MA", [] { return float(MA(0, 1.5F)); }, 0, 1, {"1PA 150\r", "2PA 150\r"}, false},
      {"MR", [] { return float(MR(0, -2.0F)); }, 0, 1, {"1PR -200\r", "2PR -200\r"}, false},
      {"SV", [] { return float(SV(0, 3.0F)); }, 0, 1, {"1VA300\r", "2VA300\r"}, false},
      {"ST", [] { return float(ST(0)); }, 0, 1, {"1ST\r", "2ST\r"}, false},
      {"DH", [] { return float(DH(0)); }, 0, 1, {"1DH\r", "2DH\r"}, false},
      {"GH", [] { return float(GH(0)); }, 0, 1, {"1PA 0\r", "2PA 0\r"}, false},
      {"RT",
       [] { return float(RT(2)); },
       0,
       1,
       kAxis2SetupLines,
       false},
      {"TP", [] { return TP(2); }, kPositionError, 0, {"2TP\r"}, true},
      {"OK", [] { return float(OK()); }, 0, 1, {"1TP\r"}, true},
      {"MT", [] { return float(MT(0)); }, 0, 1, {"TS\r"}, true},
      {"WS", [] { return float(WS(0)); }, 0, 1, {"TS\r"}, true},
  };
}

struct NamedFault {
  const char* name;
  sim::Faults faults;
  bool replies_only;          // lines still go through; only replies suffer
  sim::Microseconds longest;  // one failed exchange, not two
};

std::vector<NamedFault> Faults() {
  return {
      {"never READY", {.dies_after_bytes = 0}, false, kMissedWindow},
      {"handshake stuck at 0x81", {.stuck_handshake = 0x81}, false, kMissedWindow},
      {"handshake stuck at 0xFF (empty bus)", {.stuck_handshake = 0xFF}, false, kMissedWindow},
      {"dies after byte 1", {.dies_after_bytes = 1}, false, kMissedWindow},
      // "TS\r" is whole after byte 3: the controller then never returns to READY.
      {"dies after byte 3", {.dies_after_bytes = 3}, false, kMissedAcknowledgement},
      {"first strobe never acknowledged",
       {.never_acknowledges_byte = 0},
       false,
       kMissedAcknowledgement},
      {"third strobe never acknowledged",
       {.never_acknowledges_byte = 2},
       false,
       kMissedAcknowledgement},
      {"no reply bytes", {.reply_stops_after = 0}, true, kMissedWindow},
      {"reply stops after 2 bytes", {.reply_stops_after = 2}, true, kMissedWindow},
      {"reply never ends", {.endless_reply = true}, true, kMissedWindow},
      {"overlong reply", {.overlong_replies = true}, true, kMissedWindow},
      {"NUL and bytes above 0x7F in the reply", {.binary_replies = true}, true, kMissedWindow},
  };
}

bool Is(const ExportUnderTest& tested, const char* name) {
  return std::string(tested.name) == name;
}

sim::Microseconds LongestTime(const ExportUnderTest& tested, const NamedFault& fault) {
  if (Is(tested, "WS")) return kStatusSilence + fault.longest;
  if (Is(tested, "RT")) return kSetupPauses + fault.longest;
  return fault.longest;
}

// What the export returns while the fault is in play. A reply made of NUL
// and high bytes is still a whole reply line: its first byte, NUL, is a
// status with both axes at rest.
float ExpectedResult(const ExportUnderTest& tested, const NamedFault& fault) {
  if (fault.replies_only && !tested.queries) return tested.healthy;
  if (fault.faults.binary_replies && (Is(tested, "MT") || Is(tested, "WS"))) return tested.healthy;
  return tested.failure;
}

// What the controller receives while the fault is in play: the lines before
// the fault and nothing after it, except that WS keeps asking for the status.
bool ReceivedAsExpected(const ExportUnderTest& tested, const NamedFault& fault,
                        const Lines& received) {
  if (Is(tested, "WS")) {
    return std::all_of(received.begin(), received.end(), [](auto& line) { return line == "TS\r"; });
  }
  if (fault.replies_only) return received == tested.lines;
  return received.size() <= tested.lines.size() &&
         std::equal(received.begin(), received.end(), tested.lines.begin());
}

class FaultMatrixTest : public VirtualControllerTest {};

TEST_F(FaultMatrixTest, EveryExportAgainstEveryFault) {
  const std::vector<ExportUnderTest> exports = Exports();
  const std::vector<NamedFault> faults = Faults();
  std::cout << "fault matrix: " << exports.size() << " exports x " << faults.size()
            << " faults = " << exports.size() * faults.size() << " cells\n";
  for (const ExportUnderTest& tested : exports) {
    for (const NamedFault& fault : faults) {
      SCOPED_TRACE(std::string(tested.name) + " / " + fault.name);
      controller().Reset();
      SetFaults(fault.faults);
      const sim::Microseconds start = controller().Now();
      EXPECT_EQ(tested.call(), ExpectedResult(tested, fault));
      EXPECT_LE(controller().Now() - start, LongestTime(tested, fault));
      EXPECT_TRUE(ReceivedAsExpected(tested, fault, Received()))
          << ::testing::PrintToString(Received());

      controller().ClearFaults();
      const Lines during = Received();
      EXPECT_EQ(tested.call(), tested.healthy) << "after the fault";
      const Lines after = Received();
      EXPECT_EQ(Lines(after.begin() + std::ssize(during), after.end()), tested.lines);
    }
  }
}

}  // namespace
}  // namespace orvex::testing
