// The one polling loop of the link.
#pragma once

#include <cstdint>

#include "link/clock.h"
#include "port/platform.h"

namespace orvex::link {

// Reads the handshake register over and over, without pause, until `accepts`
// takes the value read or `limit` seconds have passed. A clock reading is
// taken just before each read; the value counts only when that reading lies
// before the end of the window, so a value seen at the very edge is a miss.
template <typename Accepts>
bool AwaitHandshake(port::PortAddress handshake, double limit, Accepts accepts) {
  const double deadline = NowSeconds() + limit;
  double now = 0.0;
  do {
    now = NowSeconds();
  } while (!accepts(port::ReadPortByte(handshake)) && !(now > deadline));
  return now < deadline;
}

inline auto Exactly(std::uint8_t expected) {
  return [expected](std::uint8_t value) { return value == expected; };
}

inline auto AtLeast(std::uint8_t lowest) {
  return [lowest](std::uint8_t value) { return value >= lowest; };
}

}  // namespace orvex::link
