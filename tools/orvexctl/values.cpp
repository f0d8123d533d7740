#include "values.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "orvexportio.h"

namespace orvexctl {
namespace {

static_assert(ORVEX_COUNTS_PER_UNIT == 100,
              "a count is a hundredth: UnitsText writes two decimals");

// 2^62: far beyond every count the controller takes, and far inside int64.
constexpr double COUNT_SATURATION = 4611686018427387904.0;

std::int64_t Saturated(double scaled) {
  return scaled < 0.0 ? -static_cast<std::int64_t>(COUNT_SATURATION)
                      : static_cast<std::int64_t>(COUNT_SATURATION);
}

// from_chars takes no '+'; a '+' before a '-' is no number either.
std::string_view WithoutPlus(std::string_view text) {
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  return text;
}

template <typename Number>
std::optional<Number> WholeText(std::string_view text) {
  text = WithoutPlus(text);
  Number number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number, std::chars_format::general);
  if (error != std::errc{} || stop != end || text.empty() || !std::isfinite(number)) {
    return std::nullopt;
  }
  return number;
}

}  // namespace

std::optional<double> TypedNumber(std::string_view text) {
  const std::optional<double> number = WholeText<double>(text);
  if (!number || std::fabs(*number) > std::numeric_limits<float>::max()) return std::nullopt;
  return number;
}

std::optional<float> TypedSingle(std::string_view text) {
  return WholeText<float>(text);
}

std::int64_t NearestCount(double value) {
  const double scaled = value * ORVEX_COUNTS_PER_UNIT;
  if (!(std::fabs(scaled) < COUNT_SATURATION)) return Saturated(scaled);
  return static_cast<std::int64_t>(std::llround(scaled));
}

std::string UnitsText(std::int64_t count) {
  const std::int64_t whole = count / ORVEX_COUNTS_PER_UNIT;
  const std::int64_t hundredths = std::llabs(count % ORVEX_COUNTS_PER_UNIT);
  std::string text = (count < 0 && whole == 0 ? "-" : "") + std::to_string(whole);
  if (hundredths == 0) return text;
  text += '.';
  text += static_cast<char>('0' + hundredths / 10);
  if (hundredths % 10 != 0) text += static_cast<char>('0' + hundredths % 10);
  return text;
}

}  // namespace orvexctl
