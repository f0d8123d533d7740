// From a value in caller units to the count the controller is sent.
#pragma once

#include <cstdint>
#include <optional>

namespace orvex::commands {

// The value multiplied by COUNTS_PER_UNIT exactly and truncated toward zero,
// or nothing for NaN, the infinities and products outside the signed 64-bit
// range.
std::optional<std::int64_t> WholeCount(float value);

// The low 32 bits of WholeCount, or 0 where it gives nothing.
std::int32_t ControllerCount(float value);

// The float nearest count / COUNTS_PER_UNIT among those whose WholeCount is
// exactly `count`; when there is none, nothing, and `below` holds the
// nearest float whose count is below it.
std::optional<float> ValueForCount(std::int64_t count, float& below);

}  // namespace orvex::commands
