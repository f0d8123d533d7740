// RT: the set-up lines, the pauses between them and the failure rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

#include "orvexportio.h"
#include "setup_lines.h"
#include "virtual_controller_fixture.h"

namespace orvex::testing {
namespace {

constexpr sim::Microseconds kPauseUs = 50'000;

// A received line and whether a pause came between it and the line before.
struct Step {
  std::string line;
  bool paused_before;
  bool operator==(const Step&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Step& step) {
  return out << (step.paused_before ? "[pause] " : "") << ::testing::PrintToString(step.line);
}

class SetupSequenceTest : public VirtualControllerTest {
 protected:
  // The lines as received, each marked with whether a pause preceded it,
  // judged by the virtual time between it and the line before.
  static std::vector<Step> ReceivedSteps() {
    std::vector<Step> steps;
    sim::Microseconds previous = 0;
    for (const sim::ReceivedLine& line : controller().Lines()) {
      const bool paused = line.completed_at - previous >= kPauseUs;
      steps.push_back({std::string(line.Text()), !steps.empty() && paused});
      previous = line.completed_at;
    }
    return steps;
  }

  static std::size_t LineBytes(const std::vector<std::string>& lines) {
    return std::accumulate(
        lines.begin(), lines.end(), std::size_t{0},
        [](std::size_t sum, const std::string& line) { return sum + line.size(); });
  }
};

// Each line with whether a pause came before it.
std::vector<Step> Paced(const std::vector<std::string>& lines, const std::vector<bool>& paused) {
  std::vector<Step> steps;
  for (std::size_t index = 0; index < lines.size(); ++index) {
    steps.push_back({lines[index], paused[index]});
  }
  return steps;
}

struct ColumnCase {
  signed char axis;
  std::vector<Step> steps;
  sim::Microseconds paused;
};

TEST_F(SetupSequenceTest, EachColumnSendsItsLinesWithItsPauses) {
  const ColumnCase columns[] = {
      {1, Paced(kAxis1SetupLines, {false, true, true, true}), 150'000},
      {2, Paced(kAxis2SetupLines, {false, false, true, true}), 100'000},
      {0, Paced(kBothAxesSetupLines, {false, false, true, true, true, true, true, true}), 300'000},
  };
  for (const ColumnCase& column : columns) {
    controller().Reset();
    EXPECT_EQ(RT(column.axis), 1) << int{column.axis};
    EXPECT_EQ(ReceivedSteps(), column.steps) << int{column.axis};
    EXPECT_EQ(controller().Snapshot().paused_total, column.paused) << int{column.axis};
    for (const sim::PauseRecord& pause : controller().Pauses()) {
      EXPECT_EQ(pause.length, kPauseUs) << int{column.axis};
    }
    EXPECT_EQ(controller().Snapshot().protocol_errors, 0U);
  }
}

struct FailureCase {
  const char* name;
  signed char axis;
  std::vector<std::string> delivered;  // lines through before the failing one
  int result;
  std::size_t pauses;
};

TEST_F(SetupSequenceTest, TimeOutsFollowTheSequencesRules) {
  const FailureCase cases[] = {
      {"first line fails, both axes", 0, {}, 0, 0},
      {"first line fails, axis 2", 2, {}, 0, 0},
      {"second line fails, axis 2", 2, FirstLines(kAxis2SetupLines, 1), 1, 0},
      {"FM3 fails, axis 1", 1, FirstLines(kAxis1SetupLines, 2), 1, 2},
      {"1DH fails in the two-axis sequence and stops it", 0, FirstLines(kBothAxesSetupLines, 3), 1,
       2},
      {"2FI11 fails after the axis-1 half", 0, FirstLines(kBothAxesSetupLines, 4), 1, 3},
      {"the last line's failure is not looked at, axis 1", 1, FirstLines(kAxis1SetupLines, 3), 1,
       3},
      {"the last line's failure is not looked at, both axes", 0, FirstLines(kBothAxesSetupLines, 7),
       1, 6},
  };
  for (const FailureCase& failure : cases) {
    controller().Reset();
    // The controller takes the first byte of the failing line and no more.
    SetFaults({.dies_after_bytes = LineBytes(failure.delivered) + 1});
    EXPECT_EQ(RT(failure.axis), failure.result) << failure.name;
    EXPECT_EQ(Received(), failure.delivered) << failure.name;
    EXPECT_EQ(controller().Pauses().size(), failure.pauses) << failure.name;
  }
}

TEST_F(SetupSequenceTest, AxisCodesWithoutASequenceSendNothingAndDoNotPause) {
  for (const int axis : {3, 7, 127, -1, -128}) {
    EXPECT_EQ(RT(static_cast<signed char>(axis)), axis);
  }
  EXPECT_EQ(PortAccesses(), 0U);
  EXPECT_EQ(controller().Snapshot().paused_total, 0U);
}

TEST_F(SetupSequenceTest, SetUpSpeedAndAccelerationGovernTheNextMove) {
  ASSERT_EQ(RT(2), 1);
  ASSERT_EQ(MA(2, 10.0F), 1);  // 1000 units at 1000 units/s, 50000 units/s^2
  const sim::Microseconds start = controller().Now();
  ASSERT_EQ(WS(2), 1);
  EXPECT_NEAR(static_cast<double>(controller().Now() - start), 1'020'000.0, 2'000.0);
}

}  // namespace
}  // namespace orvex::testing
