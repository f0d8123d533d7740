// The position parse agrees with the standard "%f" conversion on everything
// the filter can leave behind.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "commands/position_text.h"

namespace orvex::commands {
namespace {

std::optional<float> ParseText(const std::string& text) {
  const std::string line = text + "\n";
  return ParsePositionReply(
      std::span(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()));
}

std::optional<float> ScanfReference(const std::string& text) {
  const std::string line = text + "\n";
  float value = 0.0F;
  if (std::sscanf(line.c_str(), "%f", &value) != 1) return std::nullopt;
  return value;
}

bool SameFloat(std::optional<float> ours, std::optional<float> reference) {
  if (ours.has_value() != reference.has_value()) return false;
  return !ours || std::memcmp(&*ours, &*reference, sizeof(float)) == 0;
}

std::string RandomText(std::mt19937& random, std::size_t most) {
  static constexpr char kAlphabet[] = "+-.0123456789";
  std::uniform_int_distribution<std::size_t> length(0, most);
  // Weight the signs and points up so that odd arrangements come often.
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2 + 6);
  std::string text(length(random), ' ');
  for (char& character : text) {
    const std::size_t index = pick(random);
    character = kAlphabet[index < sizeof kAlphabet - 1 ? index : index % 3];
  }
  return text;
}

TEST(PositionParseTest, AgreesWithScanfOnGeneratedText) {
  std::mt19937 random(20261208);
  std::size_t parsed = 0;
  for (int round = 0; round < 200'000; ++round) {
    const std::string text = RandomText(random, round % 10 == 0 ? 79 : 12);
    const std::optional<float> ours = ParseText(text);
    ASSERT_TRUE(SameFloat(ours, ScanfReference(text))) << '"' << text << '"';
    parsed += ours.has_value();
  }
  // Both outcomes were exercised in earnest.
  EXPECT_GT(parsed, 50'000U);
  EXPECT_LT(parsed, 190'000U);
}

TEST(PositionParseTest, AgreesWithScanfAtTheEdgesOfTheFloatRange) {
  const std::vector<std::string> texts = {
      "",
      "+",
      "-",
      ".",
      "+-5",
      "-+5",
      "--5",
      "+.",
      "-.5",
      "5.",
      ".5.5",
      "1.2.3",
      "007",
      "-0",
      "340282346638528859811704183484516925440",  // the largest float
      "340282356779733661637539395458142568448",  // rounds to infinity
      "9999999999999999999999999999999999999999999999999999999999999999999999999999999",
      "0.000000000000000000000000000000000000000000001401298464324817",  // smallest step
      "0.0000000000000000000000000000000000000000000007",                // rounds down to zero
      "0.0000000000000000000000000000000000000000000008",  // rounds up to the smallest step
      "0.00000000000000000000000000000000000000001175494350822287",  // smallest normal
      "-0.0000000000000000000000000000000000000000000000000000000000000000000000000001",
      "16777217",  // halfway between two floats: to even
      "0.1000000000000000055511151231257827",
  };
  for (const std::string& text : texts) {
    EXPECT_TRUE(SameFloat(ParseText(text), ScanfReference(text))) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace orvex::commands
