// The fewest port accesses in which the handshake can carry a line: five per
// byte either way (look for readiness, data, strobe, look for the answer,
// release) and one look for READY after each line. The floor check holds the
// library to it exactly; the benchmarks measure against it.
#pragma once

#include <cstdint>

namespace orvex {

inline constexpr std::uint64_t kAccessesPerByte = 5;
inline constexpr std::uint64_t kAccessesPerLine = 1;

constexpr std::uint64_t ProtocolFloor(std::uint64_t bytes, std::uint64_t lines) {
  return kAccessesPerByte * bytes + kAccessesPerLine * lines;
}

}  // namespace orvex
