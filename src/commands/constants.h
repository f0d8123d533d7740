// Fixed facts about the controller and the units.
#pragma once

#include <cstdint>

#include "port/platform.h"

namespace orvex::commands {

// The controller's data register; its handshake register follows it.
inline constexpr port::PortAddress PORT_BASE = 0x340;

// Controller units per caller unit.
inline constexpr std::int32_t COUNTS_PER_UNIT = 100;

}  // namespace orvex::commands
