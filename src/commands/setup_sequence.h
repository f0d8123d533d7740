// RT's paced set-up sequence.
#pragma once

#include "link/card.h"

namespace orvex::commands {

// The set-up sequence for axis 1, axis 2 or both (AXIS_BOTH) on `card`; true
// when its first line went through.
bool RunSetupSequence(link::Card& card, signed char axis);

}  // namespace orvex::commands
