#include "commands/conversion.h"

#include <cmath>
#include <cstdint>
#include <limits>
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

std::optional<float> ValueForCount(std::int64_t count, float& below) {
  constexpr float up = std::numeric_limits<float>::infinity();
  // The count grows with the float: from the float nearest the count meant,
  // step towards the count until it is reached or stepped over.
  float value = static_cast<float>(static_cast<double>(count) / COUNTS_PER_UNIT);
  const auto count_of = [](float single) {
    return WholeCount(single).value_or(std::numeric_limits<std::int64_t>::max());
  };
  while (std::isfinite(value) && count_of(value) < count) value = std::nextafter(value, up);
  while (std::isfinite(value) && count_of(value) > count) value = std::nextafter(value, -up);
  below = value;
  if (!std::isfinite(value) || count_of(value) != count) return std::nullopt;
  return value;
}

std::int32_t ControllerCount(float value) {
  const std::optional<std::int64_t> count = WholeCount(value);
  if (!count) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(*count));
}

}  // namespace orvex::commands
