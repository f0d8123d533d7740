// From the decimal a user types to the single-precision value orvexctl hands
// the library, and from a position back to the hundredth it stands for.
//
// The library multiplies a value by ORVEX_COUNTS_PER_UNIT and truncates
// toward zero, so the float nearest 0.29 (0.28999999...) becomes 28 counts.
// orvexctl sends the count the user meant, the nearest hundredth, by handing
// over a float that the library turns into exactly that count. Everything
// here is orvexctl's own arithmetic on the public header's constants.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orvexctl {

// The whole text as a number that single precision can hold ("2.5", "-0.75",
// "+3", "1e3"), or nothing: not a number, not finite, or beyond the float range.
std::optional<double> TypedNumber(std::string_view text);

// The same text read as a host's float reads it: the nearest single-precision value.
std::optional<float> TypedSingle(std::string_view text);

// The count nearest value x ORVEX_COUNTS_PER_UNIT, halves away from zero.
// Beyond +-2^62 it stays there: farther than any count the controller takes.
std::int64_t NearestCount(double value);

// The count the library makes of `single`: times ORVEX_COUNTS_PER_UNIT,
// exactly, truncated toward zero (before it keeps the low 32 bits).
std::int64_t TruncatedCount(float single);

// The float for a count, when one exists. Every count up to 131072 units
// has one; beyond that the floats lie farther apart than a hundredth, and
// counts between them have none: then `below` and `above` are the nearest
// counts that have one.
struct SingleForCount {
  std::optional<float> single;
  std::int64_t below = 0;
  std::int64_t above = 0;
};
SingleForCount ChooseSingle(std::int64_t count);

// A count written in caller units, as short as it goes: "0.29", "-0.75", "2.5", "0".
std::string UnitsText(std::int64_t count);

}  // namespace orvexctl
