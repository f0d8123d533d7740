// What the virtual controller does with a line it received: move its axes,
// and answer the position and status queries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "motion_model.h"

namespace orvex::sim {

// The status byte: bit 0 while axis 1 moves, bit 1 while axis 2 moves, on top
// of 0x40 so that it never reads as a line feed.
inline constexpr std::uint8_t kStatusBase = 0x40;

// Plain data of fixed widths (card_state.h says why).
class CommandInterpreter {
 public:
  static constexpr std::size_t kAxisCount = 2;

  // Carries out one line (without its carriage return) at virtual time `now`.
  // A query writes its answer, carriage return and line feed included, into
  // `reply` and returns its length.
  std::optional<std::size_t> Execute(std::string_view line, Microseconds now,
                                     std::span<std::uint8_t> reply);

  void AdvanceTo(Microseconds now);
  AxisState Axis(std::size_t index) const { return axes_[index].State(); }
  std::uint64_t UnknownCommands() const { return unknown_commands_; }
  void Reset();

 private:
  std::optional<std::size_t> ExecuteCommand(std::optional<std::size_t> axis,
                                            std::string_view command, Microseconds now,
                                            std::span<std::uint8_t> reply);
  bool Move(std::optional<std::size_t> axis, std::string_view mnemonic,
            std::optional<std::int64_t> value, Microseconds now);
  std::size_t AnswerPosition(std::size_t axis, std::span<std::uint8_t> reply) const;
  std::size_t AnswerStatus(std::span<std::uint8_t> reply) const;

  std::array<MotionAxis, kAxisCount> axes_;
  std::uint64_t unknown_commands_ = 0;
};

}  // namespace orvex::sim
