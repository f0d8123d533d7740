// Every axis code a host can pass, and the float values that have no count.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "orvexportio.h"
#include "setup_lines.h"
#include "virtual_controller_fixture.h"

extern "C" {
int IntPrototypeMA(int axis, float target);
int IntPrototypeMR(int axis, float distance);
int IntPrototypeSV(int axis, float speed);
int IntPrototypeST(int axis);
int IntPrototypeDH(int axis);
int IntPrototypeGH(int axis);
float IntPrototypeTP(int axis);
int IntPrototypeMT(int axis);
int IntPrototypeWS(int axis);
int IntPrototypeRT(int axis);
}

namespace orvex::testing {
namespace {

constexpr float kPositionError = ORVEX_POSITION_ERROR;
// MT's answer for a code that addresses no axis: the reply "@\r\n" of a
// controller at rest, as a little-endian word.
constexpr float kStatusWordAtRest = 0x000A0D40;

struct AxisExport {
  const char* name;
  std::function<float(int)> call;  // the axis code goes in a 32-bit int slot
  std::vector<Lines> lines;        // for axis codes 0, 1 and 2
  std::function<float(int)> result;
};

float Widened(int code) {
  return static_cast<float>(static_cast<signed char>(code));
}

std::vector<AxisExport> AxisExports() {
  const auto delivered_or_code = [](int code) {
    return static_cast<signed char>(code) >= 0 && static_cast<signed char>(code) <= 2
               ? 1.0F
               : Widened(code);
  };
  const Lines& setup1 = kAxis1SetupLines;
  const Lines& setup2 = kAxis2SetupLines;
  const Lines& setup0 = kBothAxesSetupLines;
  return {
      {"MA",
       [](int axis) { return float(IntPrototypeMA(axis, 0.25F)); },
       {{"1PA 25\r", "2PA 25\r"}, {"1PA 25\r"}, {"2PA 25\r"}},
       delivered_or_code},
      {"MR",
       [](int axis) { return float(IntPrototypeMR(axis, -0.25F)); },
       {{"1PR -25\r", "2PR -25\r"}, {"1PR -25\r"}, {"2PR -25\r"}},
       delivered_or_code},
      {"SV",
       [](int axis) { return float(IntPrototypeSV(axis, 0.25F)); },
       {{"1VA25\r", "2VA25\r"}, {"1VA25\r"}, {"2VA25\r"}},
       delivered_or_code},
      {"ST",
       [](int axis) { return float(IntPrototypeST(axis)); },
       {{"1ST\r", "2ST\r"}, {"1ST\r"}, {"2ST\r"}},
       delivered_or_code},
      {"DH",
       [](int axis) { return float(IntPrototypeDH(axis)); },
       {{"1DH\r", "2DH\r"}, {"1DH\r"}, {"2DH\r"}},
       delivered_or_code},
      {"GH",
       [](int axis) { return float(IntPrototypeGH(axis)); },
       {{"1PA 0\r", "2PA 0\r"}, {"1PA 0\r"}, {"2PA 0\r"}},
       delivered_or_code},
      {"RT",
       [](int axis) { return float(IntPrototypeRT(axis)); },
       {setup0, setup1, setup2},
       delivered_or_code},
      {"WS",
       [](int axis) { return float(IntPrototypeWS(axis)); },
       {{"TS\r"}, {"TS\r"}, {"TS\r"}},
       delivered_or_code},
      {"TP",
       [](int axis) { return IntPrototypeTP(axis); },
       {{}, {"1TP\r"}, {"2TP\r"}},
       [](int code) {
         const auto low = static_cast<signed char>(code);
         return low == 1 || low == 2 ? 0.0F : kPositionError;
       }},
      {"MT",
       [](int axis) { return float(IntPrototypeMT(axis)); },
       {{"TS\r"}, {"TS\r"}, {"TS\r"}},
       [](int code) {
         const auto low = static_cast<signed char>(code);
         return low >= 0 && low <= 2 ? 1.0F : kStatusWordAtRest;
       }},
  };
}

Lines ExpectedLines(const AxisExport& tested, int code) {
  const auto low = static_cast<signed char>(code);
  if (low >= 0 && low <= 2) return tested.lines[static_cast<std::size_t>(low)];
  return std::string(tested.name) == "MT" ? Lines{"TS\r"} : Lines{};
}

class BadInputTest : public VirtualControllerTest {};

// All 256 low bytes, each with the upper bytes of the slot set to something
// else again, as a host declaring an int argument may leave them.
TEST_F(BadInputTest, EveryAxisCodeFromItsLowByteAlone) {
  const int upper_bytes[] = {0x000000, 0x000100, 0x7FFF00, -256};
  for (const AxisExport& tested : AxisExports()) {
    for (int low = 0; low < 256; ++low) {
      const int code = upper_bytes[low % 4] | low;
      controller().Reset();
      EXPECT_EQ(tested.call(code), tested.result(low)) << tested.name << " code " << code;
      EXPECT_EQ(Received(), ExpectedLines(tested, low)) << tested.name << " code " << code;
      if (ExpectedLines(tested, low).empty()) {
        EXPECT_EQ(PortAccesses(), 0U) << tested.name << " code " << code;
        EXPECT_EQ(controller().Snapshot().paused_total, 0U) << tested.name << " code " << code;
      }
    }
  }
}

struct SpecialValue {
  float value;
  const char* position_count;  // after "PA "/"PR "
  const char* speed_count;     // after "VA"
};

TEST_F(BadInputTest, FloatSpecialsReachTheWireAsTheirTruncatedLow32Bits) {
  constexpr float kInfinity = std::numeric_limits<float>::infinity();
  const float last_inside_int64 = static_cast<float>(9223372036854775808.0 / 100.0);
  const SpecialValue values[] = {
      {std::numeric_limits<float>::quiet_NaN(), "0", "0"},
      {-std::numeric_limits<float>::quiet_NaN(), "0", "0"},
      {std::numeric_limits<float>::signaling_NaN(), "0", "0"},
      {kInfinity, "0", "0"},
      {-kInfinity, "0", "0"},
      {0.0F, "0", "0"},
      {-0.0F, "0", "0"},
      {std::numeric_limits<float>::denorm_min(), "0", "0"},
      {-std::numeric_limits<float>::denorm_min(), "0", "0"},
      {std::nextafter(std::numeric_limits<float>::min(), 0.0F), "0", "0"},  // largest denormal
      {std::numeric_limits<float>::min(), "0", "0"},
      {std::numeric_limits<float>::max(), "0", "0"},
      {std::numeric_limits<float>::lowest(), "0", "0"},
      {last_inside_int64, "0", "0"},
      {std::nextafter(last_inside_int64, kInfinity), "0", "0"},
      {-last_inside_int64, "0", "0"},
      {0.01F, "0", "0"},  // 0.00999999977...
      {-0.015F, "-1", "4294967295"},
      {1.0F / 3.0F, "33", "33"},
      {1e9F, "1215752192", "1215752192"},
      {-1e9F, "-1215752192", "3079215104"},
      {-25000000.0F, "1794967296", "1794967296"},  // -2.5e9 wraps to a positive count
      {123456.789F, "12345678", "12345678"},
  };
  for (const SpecialValue& special : values) {
    controller().Reset();
    EXPECT_EQ(MA(1, special.value), 1);
    EXPECT_EQ(MR(2, special.value), 1);
    EXPECT_EQ(SV(0, special.value), 1);
    EXPECT_EQ(Received(), (Lines{std::string("1PA ") + special.position_count + "\r",
                                 std::string("2PR ") + special.position_count + "\r",
                                 std::string("1VA") + special.speed_count + "\r",
                                 std::string("2VA") + special.speed_count + "\r"}))
        << special.value;
  }
}

}  // namespace
}  // namespace orvex::testing
