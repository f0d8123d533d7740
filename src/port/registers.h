// Where the controller's registers sit on the I/O bus: the data register at
// the first port, the handshake register right after it. The port access of
// the card and the diagnosis of why it cannot reach them both read this, so
// that they ask for the same ports.
#pragma once

#include <cstdint>

namespace orvex::port {

inline constexpr std::uint16_t CONTROLLER_FIRST_PORT = 0x340;
inline constexpr std::uint16_t CONTROLLER_PORT_COUNT = 2;

}  // namespace orvex::port
