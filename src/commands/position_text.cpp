#include "commands/position_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string_view>

namespace orvex::commands {
namespace {

constexpr std::uint8_t LINE_FEED = 0x0A;
constexpr std::size_t MOST_KEPT = 80;

bool IsDigit(char character) {
  return character >= '0' && character <= '9';
}

bool IsKept(std::uint8_t byte) {
  return IsDigit(static_cast<char>(byte)) || byte == '+' || byte == '-' || byte == '.';
}

// The kept characters, closed up, in a buffer of the caller's.
std::string_view FilterPositionText(std::span<const std::uint8_t> reply,
                                    std::array<char, MOST_KEPT>& kept) {
  std::size_t length = 0;
  for (const std::uint8_t byte : reply) {
    if (byte == LINE_FEED || byte == 0 || length == kept.size()) break;
    if (IsKept(byte)) kept[length++] = static_cast<char>(byte);
  }
  return {kept.data(), length};
}

std::size_t CountDigits(std::string_view text) {
  std::size_t count = 0;
  while (count < text.size() && IsDigit(text[count])) ++count;
  return count;
}

// The longest prefix of `text` that "%f" takes as a number, without its sign:
// digits, optionally a point and more digits, with at least one digit.
std::string_view NumberAfterSign(std::string_view text) {
  const std::size_t whole = CountDigits(text);
  if (whole == text.size() || text[whole] != '.') return text.substr(0, whole);
  const std::size_t fraction = CountDigits(text.substr(whole + 1));
  if (whole + fraction == 0) return {};
  return text.substr(0, whole + 1 + fraction);
}

// Magnitudes beyond the float range become infinity and those below its
// smallest step zero, as the standard conversion gives them.
float OutOfRange(std::string_view digits) {
  double magnitude = 0.0;
  std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  return magnitude > 1.0 ? std::numeric_limits<float>::infinity() : 0.0F;
}

}  // namespace

std::optional<float> ParsePositionReply(std::span<const std::uint8_t> reply) {
  std::array<char, MOST_KEPT> kept{};
  std::string_view text = FilterPositionText(reply, kept);
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
  const std::string_view digits = NumberAfterSign(text);
  if (digits.empty()) return std::nullopt;
  float magnitude = 0.0F;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
  if (result.ec == std::errc::result_out_of_range) magnitude = OutOfRange(digits);
  return negative ? -magnitude : magnitude;
}

}  // namespace orvex::commands
