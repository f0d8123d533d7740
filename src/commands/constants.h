// Fixed facts about the controller and the units.
#pragma once

#include <cstdint>

#include "orvexportio.h"
#include "port/platform.h"

namespace orvex::commands {

// The controller's data register; its handshake register follows it.
inline constexpr port::PortAddress PORT_BASE = 0x340;

// Controller units per caller unit.
inline constexpr std::int32_t COUNTS_PER_UNIT = 100;

// TP's result when it has no position to give.
inline constexpr float POSITION_ERROR = ORVEX_POSITION_ERROR;

}  // namespace orvex::commands
