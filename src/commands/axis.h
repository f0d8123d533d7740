// Axis codes and how a command reaches the axes they address.
#pragma once

namespace orvex::commands {

inline constexpr signed char AXIS_BOTH = 0;
inline constexpr signed char AXIS_1 = 1;
inline constexpr signed char AXIS_2 = 2;

// Axis codes 0, 1 and 2; every other code addresses no axis.
inline bool AddressesAnAxis(signed char axis) {
  return axis >= AXIS_BOTH && axis <= AXIS_2;
}

// The axis code occupies a whole 32-bit argument slot of which only the low
// byte is defined. Some compilers assume that the caller has already filled
// the rest with the byte's sign extension; a host calling through an
// int-typed prototype (257 for axis 1) does not. Going through memory makes
// the compiler extend the low byte itself.
inline signed char AxisFromArgument(signed char argument) {
  volatile signed char low_byte = argument;
  return low_byte;
}

// Runs `send_to_axis` for axis 1, axis 2, or both (axis 1 first, axis 2 only
// when axis 1 went through) and tells whether every line went through.
template <typename SendToAxis>
bool ForAddressedAxes(signed char axis, SendToAxis send_to_axis) {
  if (axis == AXIS_BOTH) return send_to_axis(AXIS_1) && send_to_axis(AXIS_2);
  return send_to_axis(axis);
}

// An exported function's result for the axis argument it was given: 1 or 0
// for `command` on the addressed axes. An axis code that addresses no axis
// sends nothing and comes back as the result, widened from its signed low
// byte, which does not read as a failure.
template <typename Command>
int ResultForAxisCode(signed char argument, Command command) {
  const signed char axis = AxisFromArgument(argument);
  if (!AddressesAnAxis(axis)) return axis;
  return command(axis) ? 1 : 0;
}

}  // namespace orvex::commands
