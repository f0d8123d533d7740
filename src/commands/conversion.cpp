#include "commands/conversion.h"

#include <cstdint>
#include <optional>

#include "commands/constants.h"

namespace orvex::commands {
namespace {

// 2^63: the first double above the signed 64-bit range; -2^63 is still inside.
constexpr double INT64_LIMIT = 9223372036854775808.0;

bool FitsInt64(double product) {
  return product >= -INT64_LIMIT && product < INT64_LIMIT;
}

}  // namespace

std::optional<std::int64_t> WholeCount(float value) {
  // A float has 24 significant bits and 100 needs 7, so the double product is exact.
  const double product = static_cast<double>(COUNTS_PER_UNIT) * static_cast<double>(value);
  if (!FitsInt64(product)) return std::nullopt;  // NaN fails both comparisons
  return static_cast<std::int64_t>(product);
}

std::int32_t ControllerCount(float value) {
  const std::optional<std::int64_t> count = WholeCount(value);
  if (!count) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(*count));
}

}  // namespace orvex::commands
