// The lines the virtual controller received, the most recent kCapacity
// entries kept. A run of one line received again and again in a row (a host
// polling "TS" while it waits) is kept as one entry with its count, so that
// the commands between the polls stay in the transcript.
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
  std::uint32_t repeats = 1;  // in the transcript: how many times it came in a row
  std::uint8_t overlong = 0;  // more bytes came than the controller keeps
  std::array<std::uint8_t, 7> padding{};
  Microseconds completed_at = 0;       // time of its last byte (of the first of a run)
  Microseconds last_completed_at = 0;  // of the last of a run

  std::string_view Text() const { return {bytes.data(), length}; }
  bool SameLineAs(const ReceivedLine& other) const {
    return Text() == other.Text() && overlong == other.overlong;
  }
};

// Plain data of fixed widths (card_state.h says why).
class Transcript {
 public:
  static constexpr std::size_t kCapacity = 16384;

  // Keeps the line. Returns true when it began an entry of its own, false
  // when it made the last entry's run longer.
  bool Record(const ReceivedLine& line);
  // The last entry's run: how many times in a row it came (0: none kept).
  std::uint32_t LastRun() const;
  // Entries kept.
  std::size_t Kept() const;
  // Lines in the entries kept, each of a run counted.
  std::uint64_t LinesKept() const { return lines_kept_; }
  // Entry `index` of those kept, 0 the oldest.
  std::optional<ReceivedLine> At(std::size_t index) const;
  void Clear() {
    entries_ = 0;
    lines_kept_ = 0;
  }

 private:
  std::array<ReceivedLine, kCapacity> lines_{};
  std::uint64_t entries_ = 0;     // ever made, since the last Clear
  std::uint64_t lines_kept_ = 0;  // in the entries still kept
};

}  // namespace orvex::sim
