// The byte handshake that carries command lines to the controller and reply
// lines back, through a card's data register (its base) and handshake
// register (base + 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "port/platform.h"

namespace orvex::link {

// Handshake register values.
inline constexpr std::uint8_t READY = 0x80;  // read: the controller is idle
inline constexpr std::uint8_t PENDING =
    0x00;                                     // read: a command byte taken, or a reply byte offered
inline constexpr std::uint8_t STROBE = 0x80;  // write: take the command byte / offer the reply byte
inline constexpr std::uint8_t RELEASE = 0x00;  // write: done with this byte

inline constexpr std::uint8_t LINE_FEED = 0x0A;

// How long the controller has to show readiness before each byte, in seconds.
inline constexpr double HANDSHAKE_WINDOW = 0.009;

// How long the controller has to acknowledge a strobe or put a requested reply
// byte out, and to come back to READY after a line, in seconds. A controller
// that dies in the middle of a byte must not hang the host.
inline constexpr double ACKNOWLEDGE_BOUND = 1.0;

// No poll of the handshake register takes this long. A longer gap between two
// clock readings of one wait means the host thread was not running (the
// scheduler gave the processor to another thread, or the machine was
// suspended); that time is not held against the controller, so a busy host
// does not cut a line short in the middle.
inline constexpr double HOST_STALL = 0.001;

// The most stalled time one wait gives back, in seconds, so that a host whose
// every poll is slow still sees its waits end.
inline constexpr double STALL_ALLOWANCE = 0.25;

// The most bytes one reply may have, line feed included, before the link gives
// up on it.
inline constexpr std::size_t REPLY_BOUND = 1024;

// Sends every byte of `command` and waits for the controller to return to
// READY. Returns true when every byte was delivered, false when the controller
// missed a readiness window or an acknowledgement bound; the bytes sent before
// stay sent. An empty command sends nothing and only waits for READY.
bool SendCommand(std::string_view command, const port::CardPorts& card);

class ExchangeRecord;

// The same, noting each step in `record` before it is taken.
bool SendCommand(std::string_view command, const port::CardPorts& card, ExchangeRecord& record);

struct ReplyResult {
  bool delivered;      // a whole line fitted into the buffer
  std::size_t length;  // bytes stored in the buffer, line feed included
};

// Receives one reply line into `buffer`, line feed included, without adding a
// terminator. A reply longer than the buffer is still received up to its line
// feed (or REPLY_BOUND bytes), so the link stays in step with the controller,
// but only what fits is stored and the line is not delivered. Neither is it
// when the controller missed a window or a bound; the bytes stored so far stay.
ReplyResult ReadReply(std::span<std::uint8_t> buffer, const port::CardPorts& card);

// The same, noting each step in `record` before it is taken.
ReplyResult ReadReply(std::span<std::uint8_t> buffer, const port::CardPorts& card,
                      ExchangeRecord& record);

}  // namespace orvex::link
