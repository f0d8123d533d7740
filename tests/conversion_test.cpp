// From caller units to controller counts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "commands/conversion.h"

namespace orvex::commands {
namespace {

struct CountCase {
  float value;
  std::int32_t count;
};

constexpr float kInfinity = std::numeric_limits<float>::infinity();

// 2^63 / 100 rounds to a float whose product stays inside the signed 64-bit
// range; the next float up lands beyond it.
constexpr double kInt64Limit = 9223372036854775808.0;
const float kLastInsideInt64 = static_cast<float>(kInt64Limit / 100.0);
const float kFirstBeyondInt64 = std::nextafter(kLastInsideInt64, kInfinity);

TEST(ControllerCountTest, TruncatesTheExactProductAndKeepsItsLow32Bits) {
  const CountCase cases[] = {
      {2.5F, 250},
      {0.29F, 28},
      {0.57F, 56},
      {-0.019F, -1},
      {0.0099F, 0},
      {-0.0099F, 0},
      {-1.0F, -100},
      {1e8F, 1410065408},  // 10^10 mod 2^32
      {21474836.0F, 2147483600},
      {21474838.0F, -2147483496},  // 2147483800 wraps into the sign bit
      {-21474836.0F, -2147483600},
      {42949672.0F, -96},  // 4294967200
      {0.0F, 0},
      {-0.0F, 0},
      {std::numeric_limits<float>::denorm_min(), 0},
  };
  for (const CountCase& c : cases) EXPECT_EQ(ControllerCount(c.value), c.count) << c.value;
}

TEST(ControllerCountTest, ValuesWithoutACountGiveZero) {
  const float cases[] = {
      std::numeric_limits<float>::quiet_NaN(),
      -std::numeric_limits<float>::quiet_NaN(),
      kInfinity,
      -kInfinity,
      std::numeric_limits<float>::max(),
      std::numeric_limits<float>::lowest(),
      1e17F,
      -1e17F,
      kFirstBeyondInt64,
  };
  for (const float value : cases) EXPECT_EQ(ControllerCount(value), 0) << value;
}

TEST(ControllerCountTest, BothSidesOfTheSigned64BitBoundaryGiveZero) {
  // Floats this large are multiples of 2^33, so even the products inside the
  // range have no low 32 bits; what matters is that neither side overflows
  // the conversion (the undefined-behaviour sanitizer would report it).
  ASSERT_LT(static_cast<double>(kLastInsideInt64) * 100.0, kInt64Limit);
  ASSERT_GE(static_cast<double>(kFirstBeyondInt64) * 100.0, kInt64Limit);
  for (const float value : {kLastInsideInt64, kFirstBeyondInt64, -kLastInsideInt64,
                            -kFirstBeyondInt64, std::nextafter(-kFirstBeyondInt64, -kInfinity)}) {
    EXPECT_EQ(ControllerCount(value), 0) << value;
  }
}

// The whole count, before its low 32 bits are kept: what orvexctl checks a
// value's range with.
TEST(WholeCountTest, GivesTheTruncatedProductOrNothingBeyondSigned64Bits) {
  struct WholeCase {
    float value;
    std::optional<std::int64_t> count;
  };
  const WholeCase cases[] = {
      {2.5F, 250},
      {-0.019F, -1},
      {-0.001F, 0},
      {21474838.0F, 2147483800},
      {42949672.0F, 4294967200},
      {1e8F, 10000000000},
      {-kLastInsideInt64,
       static_cast<std::int64_t>(-static_cast<double>(kLastInsideInt64) * 100.0)},
      {kFirstBeyondInt64, std::nullopt},
      {-kFirstBeyondInt64, std::nullopt},
      {kInfinity, std::nullopt},
      {std::numeric_limits<float>::quiet_NaN(), std::nullopt},
  };
  for (const WholeCase& c : cases) EXPECT_EQ(WholeCount(c.value), c.count) << c.value;
}

}  // namespace
}  // namespace orvex::commands
