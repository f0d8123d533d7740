// The motion commands, through their exports: the lines the controller
// received and the results.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "orvexportio.h"
#include "virtual_controller_fixture.h"

extern "C" {
int IntPrototypeMA(int axis, float target);
int IntPrototypeST(int axis);
int IntPrototypeGH(int axis);
}

namespace orvex::testing {
namespace {

struct MotionExport {
  const char* name;
  std::function<int(signed char)> call;
  std::string axis1_line;
  std::string axis2_line;
};

std::vector<MotionExport> MotionExports() {
  return {
      {"MA", [](signed char axis) { return MA(axis, 2.5F); }, "1PA 250\r", "2PA 250\r"},
      {"MR", [](signed char axis) { return MR(axis, -0.75F); }, "1PR -75\r", "2PR -75\r"},
      {"SV", [](signed char axis) { return SV(axis, 12.0F); }, "1VA1200\r", "2VA1200\r"},
      {"ST", [](signed char axis) { return ST(axis); }, "1ST\r", "2ST\r"},
      {"DH", [](signed char axis) { return DH(axis); }, "1DH\r", "2DH\r"},
      {"GH", [](signed char axis) { return GH(axis); }, "1PA 0\r", "2PA 0\r"},
  };
}

class MotionCommandsTest : public VirtualControllerTest {};

TEST_F(MotionCommandsTest, EveryExportAddressesTheAxesItsCodeNames) {
  for (const MotionExport& motion : MotionExports()) {
    const struct {
      signed char axis;
      Lines lines;
      int result;
    } cases[] = {
        {0, {motion.axis1_line, motion.axis2_line}, 1},
        {1, {motion.axis1_line}, 1},
        {2, {motion.axis2_line}, 1},
        {3, {}, 3},
        {5, {}, 5},
        {127, {}, 127},
        {-1, {}, -1},
        {-128, {}, -128},
    };
    for (const auto& expected : cases) {
      controller().Reset();
      EXPECT_EQ(motion.call(expected.axis), expected.result)
          << motion.name << "(" << int{expected.axis} << ")";
      EXPECT_EQ(Received(), expected.lines) << motion.name << "(" << int{expected.axis} << ")";
      EXPECT_EQ(controller().Snapshot().protocol_errors, 0U) << motion.name;
    }
  }
}

TEST_F(MotionCommandsTest, BothAxesStopAtTheFirstAxisWhenItTimesOut) {
  for (const MotionExport& motion : MotionExports()) {
    controller().Reset();
    SetFaults({.stuck_handshake = 0xFF});
    const sim::Microseconds start = controller().Now();
    EXPECT_EQ(motion.call(0), 0) << motion.name;
    // One missed window, not two: axis 2 was never tried.
    EXPECT_LT(controller().Now() - start, 9'100U) << motion.name;
    EXPECT_EQ(controller().Snapshot().port_writes, 0U) << motion.name;
  }
}

TEST_F(MotionCommandsTest, BothAxesReportTheSecondLinesOutcome) {
  const std::size_t axis1_length = std::string("1DH\r").size();
  SetFaults({.dies_after_bytes = axis1_length + 1});
  EXPECT_EQ(DH(0), 0);
  EXPECT_EQ(Received(), Lines{"1DH\r"});
  EXPECT_EQ(controller().Snapshot().bytes_taken, axis1_length + 1);
}

// Values on the wire: the count is the exact product truncated toward zero,
// written signed after PA/PR and as its unsigned 32 bits after VA.
struct WireCase {
  float value;
  const char* position_count;
  const char* speed_count;
};

TEST_F(MotionCommandsTest, ValuesReachTheWireAsTruncatedCounts) {
  const WireCase cases[] = {
      {2.5F, "250", "250"},
      {0.29F, "28", "28"},
      {0.57F, "56", "56"},
      {-0.019F, "-1", "4294967295"},
      {0.0099F, "0", "0"},
      {-1.0F, "-100", "4294967196"},
      {1e8F, "1410065408", "1410065408"},
      {1e17F, "0", "0"},
      {21474838.0F, "-2147483496", "2147483800"},
      {-21474836.0F, "-2147483600", "2147483696"},
  };
  for (const WireCase& wire : cases) {
    controller().Reset();
    ASSERT_EQ(MA(2, wire.value), 1);
    ASSERT_EQ(MR(1, wire.value), 1);
    ASSERT_EQ(SV(1, wire.value), 1);
    EXPECT_EQ(Received(), (Lines{std::string("2PA ") + wire.position_count + "\r",
                                 std::string("1PR ") + wire.position_count + "\r",
                                 std::string("1VA") + wire.speed_count + "\r"}))
        << "value " << wire.value;
  }
}

TEST_F(MotionCommandsTest, OneLineCostsTheProtocolsFloorOfPortAccesses) {
  ASSERT_EQ(MA(1, 2.5F), 1);  // "1PA 250\r": 8 bytes
  EXPECT_EQ(PortAccesses(), 5U * 8 + 1);
}

// A host may declare the axis argument as a 32-bit int and put anything in
// its upper bytes; only the low byte counts.
TEST_F(MotionCommandsTest, OnlyTheLowByteOfTheAxisSlotCounts) {
  EXPECT_EQ(IntPrototypeMA(257, 1.0F), 1);
  EXPECT_EQ(IntPrototypeST(256), 1);
  EXPECT_EQ(IntPrototypeGH(0x7FFFFF02), 1);
  EXPECT_EQ(IntPrototypeST(0x1FF), -1);
  EXPECT_EQ(IntPrototypeST(0x183), -125);
  EXPECT_EQ(Received(), (Lines{"1PA 100\r", "1ST\r", "2ST\r", "2PA 0\r"}));
}

}  // namespace
}  // namespace orvex::testing
