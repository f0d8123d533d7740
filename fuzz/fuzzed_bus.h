// A controller whose every move comes from the fuzzer's input: the values the
// handshake register shows, the bytes on the data register, and jumps of the
// clock. Once the input runs out, the controller has gone quiet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvex::fuzz {

using Microseconds = std::uint64_t;

// A handshake value that makes the clock jump instead of being shown.
inline constexpr std::uint8_t kClockJump = 0xEE;
inline constexpr Microseconds kClockJumpLength = 5'000;
// After the input: the handshake reads busy and every access takes 0.5 ms
// (time flies, but no gap between two polls looks like a stalled host).
inline constexpr std::uint8_t kQuietValue = 0x01;
inline constexpr Microseconds kQuietAccessCost = 500;
inline constexpr Microseconds kAccessCost = 1;

struct BusRecord {
  Microseconds now = 0;
  std::size_t consumed = 0;
  bool host_misbehaved = false;  // wrote something no command line holds
};

// Starts a fresh run over `script`.
void StartBus(std::span<const std::uint8_t> script);
const BusRecord& Bus();

}  // namespace orvex::fuzz
