// The motion commands' lines, to the axes an axis code addresses on one card.
#pragma once

#include <cstdint>
#include <string_view>

#include "link/card.h"

namespace orvex::commands {

// Each sends its line to axis 1, axis 2, or both (axis 1 first, axis 2 only
// when axis 1 went through), as `axis` (AXIS_1, AXIS_2 or AXIS_BOTH) says,
// and tells whether every line was delivered.

// "1PA 250\r": the mnemonic, one space, the count in signed decimal.
bool SendPositionLines(link::Card& card, signed char axis, std::string_view mnemonic,
                       std::int32_t count);

// "1VA250\r": the mnemonic and the count's 32 bits in unsigned decimal.
bool SendSpeedLines(link::Card& card, signed char axis, std::int32_t count);

// "1ST\r": the mnemonic alone.
bool SendBareLines(link::Card& card, signed char axis, std::string_view mnemonic);

}  // namespace orvex::commands
