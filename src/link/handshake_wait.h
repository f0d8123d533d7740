// The one polling loop of the link.
#pragma once

#include <cstdint>

#include "link/clock.h"
#include "link/link.h"
#include "port/platform.h"

namespace orvex::link {

// Reads the card's handshake register over and over, without pause, until `accepts`
// takes the value read or `limit` seconds have passed. A clock reading is
// taken just before each read (the first one also starts the window); the
// value counts only when that reading lies before the end of the window, so a
// value seen at the very edge is a miss. Gaps longer than HOST_STALL between
// two readings, when this thread was not running, move the end of the window
// out by their length, up to STALL_ALLOWANCE in all.
template <typename Accepts>
bool AwaitHandshake(const port::CardPorts& card, double limit, Accepts accepts) {
  double now = NowSeconds();
  double deadline = now + limit;
  double allowance = STALL_ALLOWANCE;
  for (;;) {
    if (accepts(port::ReadPortByte(card, port::Register::Handshake)) || now > deadline)
      return now < deadline;
    const double previous = now;
    now = NowSeconds();
    if (now - previous > HOST_STALL && allowance > 0.0) {
      const double given_back = now - previous < allowance ? now - previous : allowance;
      deadline += given_back;
      allowance -= given_back;
    }
  }
}

inline auto Exactly(std::uint8_t expected) {
  return [expected](std::uint8_t value) { return value == expected; };
}

inline auto AtLeast(std::uint8_t lowest) {
  return [lowest](std::uint8_t value) { return value >= lowest; };
}

}  // namespace orvex::link
