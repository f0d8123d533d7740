// The query exchanges behind TP, OK, MT and WS: one line out, one reply in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "link/card.h"

namespace orvex::commands {

struct PositionAnswer {
  bool answered = false;           // the query went out and a whole reply line came back
  std::optional<double> position;  // in caller units, still in double precision; none when
                                   // the reply held no number
};

// Axis 1 or 2 (anything else sends nothing and is not answered).
PositionAnswer QueryPosition(link::Card& card, signed char axis);

struct StatusReply {
  bool exchanged = false;                     // "TS" went out and a whole reply line came back
  std::array<std::uint8_t, 4> first_bytes{};  // missing bytes are zero
  std::uint8_t Status() const { return first_bytes[0]; }
};

StatusReply QueryStatus(link::Card& card);

// Whether the status byte shows the axes `axis` addresses (AXIS_BOTH, AXIS_1
// or AXIS_2) at rest.
bool AxesDone(signed char axis, std::uint8_t status);

// True once the addressed axes are at rest; false once the controller has
// been silent for ORVEX_STATUS_SILENCE_SECONDS.
bool WaitUntilStopped(link::Card& card, signed char axis);

}  // namespace orvex::commands
