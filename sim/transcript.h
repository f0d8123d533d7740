// The lines the virtual controller received, the most recent kCapacity kept.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "motion_model.h"

namespace orvex::sim {

// A line the controller received, carriage return included.
struct ReceivedLine {
  static constexpr std::size_t kCapacity = 64;
  std::array<char, kCapacity> bytes{};
  std::size_t length = 0;
  bool overlong = false;          // more bytes came than the controller keeps
  Microseconds completed_at = 0;  // time of its last byte

  std::string_view Text() const { return {bytes.data(), length}; }
};

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
