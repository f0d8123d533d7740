// From a value in caller units to the count the controller is sent.
#pragma once

#include <cstdint>

namespace orvex::commands {

// Multiplies by COUNTS_PER_UNIT exactly, truncates toward zero to 64 bits and
// keeps the low 32 bits. NaN, the infinities and products outside the signed
// 64-bit range give 0.
std::int32_t ControllerCount(float value);

}  // namespace orvex::commands
