#include "transcript.h"

#include <algorithm>
#include <cstddef>
#include <optional>

namespace orvex::sim {

bool Transcript::Record(const ReceivedLine& line) {
  ++lines_kept_;
  if (entries_ > 0) {
    ReceivedLine& last = lines_[(entries_ - 1) % kCapacity];
    if (last.SameLineAs(line)) {
      ++last.repeats;
      last.last_completed_at = line.completed_at;
      return false;
    }
  }
  ReceivedLine& entry = lines_[entries_ % kCapacity];
  if (entries_ >= kCapacity) lines_kept_ -= entry.repeats;  // pushed out
  entry = line;
  entry.repeats = 1;
  entry.last_completed_at = line.completed_at;
  ++entries_;
  return true;
}

std::uint32_t Transcript::LastRun() const {
  return entries_ == 0 ? 0 : lines_[(entries_ - 1) % kCapacity].repeats;
}

std::size_t Transcript::Kept() const {
  return static_cast<std::size_t>(std::min<std::uint64_t>(entries_, kCapacity));
}

std::optional<ReceivedLine> Transcript::At(std::size_t index) const {
  if (index >= Kept()) return std::nullopt;
  return lines_[(entries_ - Kept() + index) % kCapacity];
}

}  // namespace orvex::sim
