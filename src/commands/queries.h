// The query exchanges behind TP, OK, MT and WS: one line out, one reply in.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace orvex::commands {

// A position in caller units, still in double precision, or nothing when the
// exchange failed or the reply held no number.
std::optional<double> QueryPosition(signed char axis);

struct StatusReply {
  bool exchanged = false;                     // "TS" went out and a whole reply line came back
  std::array<std::uint8_t, 4> first_bytes{};  // missing bytes are zero
  std::uint8_t Status() const { return first_bytes[0]; }
};

StatusReply QueryStatus();

}  // namespace orvex::commands
