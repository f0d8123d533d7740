// Fixed facts about the controller and the units.
#pragma once

#include <cstdint>

#include "orvexportio.h"

namespace orvex::commands {

// Controller units per caller unit.
inline constexpr std::int32_t COUNTS_PER_UNIT = 100;

// TP's result when it has no position to give.
inline constexpr float POSITION_ERROR = ORVEX_POSITION_ERROR;

}  // namespace orvex::commands
