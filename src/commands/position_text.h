// Reading a position out of the controller's reply to "1TP" or "2TP".
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace orvex::commands {

// Keeps '+', '-', '.' and the digits of the reply, up to its line feed or a
// NUL byte, and parses what is left as the standard "%f" conversion would: an
// optional sign, digits with an optional point, at least one digit. Anything
// after the longest such prefix is ignored ("1.2.3" gives 1.2); no number at
// all ("+-5", "-", ".") gives nothing.
std::optional<float> ParsePositionReply(std::span<const std::uint8_t> reply);

}  // namespace orvex::commands
