// From the decimal a user types to the count meant, the nearest hundredth,
// and from a position back to the hundredth it stands for.
//
// The library multiplies a value by ORVEX_COUNTS_PER_UNIT and truncates
// toward zero, so the float nearest 0.29 (0.28999999...) becomes 28 counts.
// orvexctl sends the count the user meant by handing over a float that the
// library turns into exactly that count; which float that is, the library
// itself says (orvex_value_for_count, orvex_count_of: see arguments.h).
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

// A count written in caller units, as short as it goes: "0.29", "-0.75", "2.5", "0".
std::string UnitsText(std::int64_t count);

}  // namespace orvexctl
