// The lines the virtual controller received, the most recent kCapacity kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "motion_model.h"

namespace orvex::sim {

// A line the controller received, carriage return included. Plain data of
// fixed widths (card_state.h says why).
struct ReceivedLine {
  static constexpr std::size_t kCapacity = 64;
  std::array<char, kCapacity> bytes{};
  std::uint32_t length = 0;
  std::uint8_t overlong = 0;  // more bytes came than the controller keeps
  std::array<std::uint8_t, 3> padding{};
  Microseconds completed_at = 0;  // time of its last byte

  std::string_view Text() const { return {bytes.data(), length}; }
};

// Plain data of fixed widths (card_state.h says why).
class Transcript {
 public:
  static constexpr std::size_t kCapacity = 16384;

  void Record(const ReceivedLine& line);
  std::size_t Kept() const;
  // Line `index` of those kept, 0 the oldest.
  std::optional<ReceivedLine> At(std::size_t index) const;
  void Clear() { received_ = 0; }

 private:
  std::array<ReceivedLine, kCapacity> lines_{};
  std::uint64_t received_ = 0;
};

}  // namespace orvex::sim
