#include "transcript.h"

#include <algorithm>
#include <cstddef>
#include <optional>

namespace orvex::sim {

void Transcript::Record(const ReceivedLine& line) {
  lines_[received_ % kCapacity] = line;
  ++received_;
}

std::size_t Transcript::Kept() const {
  return static_cast<std::size_t>(std::min<std::uint64_t>(received_, kCapacity));
}

std::optional<ReceivedLine> Transcript::At(std::size_t index) const {
  if (index >= Kept()) return std::nullopt;
  return lines_[(received_ - Kept() + index) % kCapacity];
}

}  // namespace orvex::sim
