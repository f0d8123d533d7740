// Every export of the unmodified library for the card, through the port
// instructions and through /dev/port: the exact lines, the port accesses, a
// missed window, replies, and the worst of the controller's faults, with
// virtual times as exact as against the virtual-controller build.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "child_process.h"
#include "orvexportio.h"
#include "setup_lines.h"

namespace orvex::card_paths {
namespace {

constexpr float kPositionError = ORVEX_POSITION_ERROR;
constexpr sim::Microseconds kWindow = 9'000;
// One missed window costs the window and the few accesses around its edges.
constexpr sim::Microseconds kMissedWindow = 10'000;
constexpr sim::Microseconds kMissedAcknowledgement = 1'010'000;

struct ExportCall {
  const char* call;
  std::function<double()> run;
  double result;
  Lines lines;
};

std::vector<ExportCall> ExportCalls() {
  return {
      {"MA(0, 2.5)", [] { return MA(0, 2.5F); }, 1, {"1PA 250\r", "2PA 250\r"}},
      {"MA(1, -0.75)", [] { return MA(1, -0.75F); }, 1, {"1PA -75\r"}},
      {"MR(2, 12.0)", [] { return MR(2, 12.0F); }, 1, {"2PR 1200\r"}},
      {"SV(0, -1.0)", [] { return SV(0, -1.0F); }, 1, {"1VA4294967196\r", "2VA4294967196\r"}},
      {"ST(0)", [] { return ST(0); }, 1, {"1ST\r", "2ST\r"}},
      {"DH(2)", [] { return DH(2); }, 1, {"2DH\r"}},
      {"GH(1)", [] { return GH(1); }, 1, {"1PA 0\r"}},
      {"TP(2)", [] { return TP(2); }, 0.0, {"2TP\r"}},
      {"OK()", [] { return OK(); }, 1, {"1TP\r"}},
      {"MT(0)", [] { return MT(0); }, 1, {"TS\r"}},
      {"WS(2)", [] { return WS(2); }, 1, {"TS\r"}},
      {"RT(2)", [] { return RT(2); }, 1, kAxis2SetupLines},
      {"RT(0)", [] { return RT(0); }, 1, kBothAxesSetupLines},
      {"MA(3, 1.0)", [] { return MA(3, 1.0F); }, 3, {}},
      {"ST(-1)", [] { return ST(-1); }, -1, {}},
      {"TP(0)", [] { return TP(0); }, kPositionError, {}},
      {"WS(5)", [] { return WS(5); }, 5, {}},
  };
}

class CardExportsTest : public CardPathTest {};

TEST_P(CardExportsTest, EveryExportSendsItsExactLines) {
  const PortRoute route = GetParam();
  InChild([route] {
    for (const ExportCall& call : ExportCalls()) {
      SCOPED_TRACE(call.call);
      Controller().Reset();
      stand_in::ClearRecords();
      EXPECT_EQ(call.run(), call.result);
      EXPECT_EQ(Controller().LineTexts(), call.lines);
      EXPECT_EQ(Controller().Snapshot().protocol_errors, 0U);
      EXPECT_EQ(Controller().Snapshot().unknown_commands, 0U);
      ExpectEveryAccessBy(route);
    }
  });
}

TEST_P(CardExportsTest, OneLineCostsFortyOneAccesses) {
  const PortRoute route = GetParam();
  InChild([route] {
    ASSERT_EQ(MA(1, 2.5F), 1);  // "1PA 250\r": 8 bytes of 5 accesses, and the look for READY
    EXPECT_EQ(Controller().LineTexts(), Lines{"1PA 250\r"});
    EXPECT_EQ(ControllerAccesses(), 41U);
    const stand_in::AccessCounts counts = stand_in::Accesses();
    EXPECT_EQ(route == PortRoute::Instructions ? counts.Instructions() : counts.DevPort(), 41U);
    ExpectEveryAccessBy(route);
  });
}

// The pauses of the set-up sequence and the readiness window are kept on the
// controller's clock, to the microsecond.
TEST_P(CardExportsTest, SetUpSequencePausesFiftyMillisecondsBetweenLines) {
  InChild([] {
    ASSERT_EQ(RT(1), 1);
    const std::vector<sim::PauseRecord> pauses = Controller().Pauses();
    ASSERT_EQ(pauses.size(), 3U);
    for (const sim::PauseRecord& pause : pauses) EXPECT_EQ(pause.length, 50'000U);
    const std::vector<sim::ReceivedLine> lines = Controller().Lines();
    ASSERT_EQ(lines.size(), 4U);
    for (std::size_t index = 1; index < lines.size(); ++index) {
      EXPECT_GE(lines[index].completed_at - lines[index - 1].completed_at, 50'000U);
      EXPECT_LT(lines[index].completed_at - lines[index - 1].completed_at, 51'000U);
    }
  });
}

TEST_P(CardExportsTest, MissedWindowEndsTheCallAfterNineMilliseconds) {
  InChild([] {
    Controller().SetFaults({.stuck_handshake = 0xFF});
    EXPECT_EQ(MA(0, 2.5F), 0);
    EXPECT_GE(Controller().Now(), kWindow);
    EXPECT_LE(Controller().Now(), kWindow + 100);
    EXPECT_EQ(Controller().Snapshot().port_writes, 0U);

    // Readiness withheld for 8 ms before byte 1 is waited for; for 9.5 ms it is not.
    Controller().Reset();
    Controller().SetFaults({.readiness_delay = sim::Faults::ReadinessDelay{1, 8'000}});
    EXPECT_EQ(ST(2), 1);
    EXPECT_EQ(Controller().LineTexts(), Lines{"2ST\r"});
    Controller().Reset();
    Controller().SetFaults({.readiness_delay = sim::Faults::ReadinessDelay{1, 9'500}});
    EXPECT_EQ(ST(2), 0);
    EXPECT_EQ(Controller().Snapshot().bytes_taken, 1U);
    EXPECT_EQ(Controller().LineTexts(), Lines{});
  });
}

TEST_P(CardExportsTest, RepliesAreReadBack) {
  InChild([] {
    Controller().QueueReply("+12.5\r\n");
    EXPECT_EQ(TP(1), 0.125F);
    Controller().QueueReply("A\r\n");  // 'A': axis 1 moving
    EXPECT_EQ(MT(1), 0);
    Controller().QueueReply("A\r\n");
    EXPECT_EQ(MT(2), 1);
    EXPECT_EQ(OK(), 1);

    Controller().Reset();
    ASSERT_EQ(SV(1, 10.0F), 1);
    ASSERT_EQ(MA(1, 0.25F), 1);
    EXPECT_EQ(MT(1), 0);
    EXPECT_EQ(WS(1), 1);
    EXPECT_EQ(TP(1), 0.25F);
    const Lines lines = Controller().LineTexts();
    ASSERT_GE(lines.size(), 5U);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 3), (Lines{"1VA1000\r", "1PA 25\r", "TS\r"}));
    EXPECT_EQ(lines.back(), "1TP\r");
    EXPECT_EQ(Controller().Snapshot().protocol_errors, 0U);
  });
}

struct WorstCase {
  const char* name;
  std::function<double()> run;
  sim::Faults faults;
  double failure;
  sim::Microseconds longest;
  Lines healthy_lines;
};

std::vector<WorstCase> WorstCases() {
  return {
      {"MA(0, 1.5), never READY",
       [] { return MA(0, 1.5F); },
       {.dies_after_bytes = 0},
       0,
       kMissedWindow,
       {"1PA 150\r", "2PA 150\r"}},
      {"DH(0), third strobe never acknowledged",
       [] { return DH(0); },
       {.never_acknowledges_byte = 2},
       0,
       kMissedAcknowledgement,
       {"1DH\r", "2DH\r"}},
      {"OK(), dead once its line is whole",
       [] { return OK(); },
       {.dies_after_bytes = 4},
       0,
       kMissedAcknowledgement,
       {"1TP\r"}},
      {"WS(0), handshake stuck at 0x81",
       [] { return WS(0); },
       {.stuck_handshake = 0x81},
       0,
       1'000'000 + kMissedWindow,
       {"TS\r"}},
      {"RT(2), dead after byte 1",
       [] { return RT(2); },
       {.dies_after_bytes = 1},
       0,
       100'000 + kMissedWindow,
       kAxis2SetupLines},
      {"TP(2), reply never ends",
       [] { return TP(2); },
       {.endless_reply = true},
       kPositionError,
       kMissedWindow,
       {"2TP\r"}},
      {"TP(1), overlong reply",
       [] { return TP(1); },
       {.overlong_replies = true},
       kPositionError,
       kMissedWindow,
       {"1TP\r"}},
      {"MT(0), reply stops after 2 bytes",
       [] { return MT(0); },
       {.reply_stops_after = 2},
       0,
       kMissedWindow,
       {"TS\r"}},
  };
}

TEST_P(CardExportsTest, WorstFaultsEndInTimeAndLeaveTheLinkUsable) {
  const PortRoute route = GetParam();
  InChild(
      [route] {
        for (const WorstCase& worst : WorstCases()) {
          SCOPED_TRACE(worst.name);
          Controller().Reset();
          stand_in::ClearRecords();
          Controller().SetFaults(worst.faults);
          EXPECT_EQ(worst.run(), worst.failure);
          EXPECT_LE(Controller().Now(), worst.longest);
          const Lines during = Controller().LineTexts();
          EXPECT_LE(during.size(), worst.healthy_lines.size() + 1);

          Controller().ClearFaults();
          EXPECT_NE(worst.run(), worst.failure) << "after the fault";
          const Lines after = Controller().LineTexts();
          EXPECT_EQ(Lines(after.begin() + std::ssize(during), after.end()), worst.healthy_lines);
          ExpectEveryAccessBy(route);
        }
      },
      240);
}

INSTANTIATE_TEST_SUITE_P(Routes, CardExportsTest,
                         ::testing::Values(PortRoute::Instructions, PortRoute::DevPort),
                         RouteTestName);

}  // namespace
}  // namespace orvex::card_paths
