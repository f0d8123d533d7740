// The platform touch points of the library: byte access to I/O ports, a
// steady clock and a pause. Each build links exactly one implementation: the
// hardware port access of its platform, or the virtual controller.
#pragma once

#include <cstdint>

namespace orvex::port {

// Port address as the link hands it over; only the low 16 bits address a port.
using PortAddress = std::int32_t;

// The controller's data register; its handshake register follows it.
inline constexpr PortAddress PORT_BASE = 0x340;

// Reads one byte from an I/O port. An unreachable bus reads 0xFF.
std::uint8_t ReadPortByte(PortAddress port);

// Writes one byte to an I/O port. On an unreachable bus the byte goes nowhere.
void WritePortByte(PortAddress port, std::uint8_t value);

// Seconds on a clock that never steps backwards or jumps with the wall clock.
double SteadyClockSeconds();

// Blocks the calling thread for the given number of milliseconds.
void PauseMilliseconds(unsigned milliseconds);

}  // namespace orvex::port
