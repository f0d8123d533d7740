#include "commands/conversion.h"

#include <cstdint>

#include "commands/constants.h"

namespace orvex::commands {
namespace {

// 2^63: the first double above the signed 64-bit range; -2^63 is still inside.
constexpr double kInt64Limit = 9223372036854775808.0;

bool FitsInt64(double product) {
  return product >= -kInt64Limit && product < kInt64Limit;
}

}  // namespace

std::int32_t ControllerCount(float value) {
  // A float has 24 significant bits and 100 needs 7, so the double product is exact.
  const double product = static_cast<double>(COUNTS_PER_UNIT) * static_cast<double>(value);
  if (!FitsInt64(product)) return 0;  // NaN fails both comparisons
  const auto truncated = static_cast<std::int64_t>(product);
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(truncated));
}

}  // namespace orvex::commands
