#include "link/exchange_record.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <span>
#include <string_view>

namespace orvex::link {
namespace {

constexpr std::uint32_t INDEX_BITS = 20;
constexpr std::uint32_t INDEX_MASK = (std::uint32_t{1} << INDEX_BITS) - 1;
constexpr std::uint32_t LINE_FEED_BIT = std::uint32_t{1} << INDEX_BITS;
constexpr std::uint32_t STEP_SHIFT = 24;

}  // namespace

void ExchangeRecord::Begin(std::string_view line, bool query) {
  const std::size_t kept = std::min(line.size(), LINE_CAPACITY);
  std::copy_n(line.begin(), kept, line_.begin());
  line_length_ = static_cast<std::uint32_t>(kept);
  query_ = query ? 1 : 0;
  Note(Step::AwaitReady, 0);
}

std::string_view ExchangeRecord::Line() const {
  return {line_.data(), std::min<std::size_t>(line_length_, LINE_CAPACITY)};
}

std::uint32_t ExchangeRecord::Encode(Position position) {
  return (static_cast<std::uint32_t>(position.step) << STEP_SHIFT) |
         (position.line_feed ? LINE_FEED_BIT : 0) | (position.index & INDEX_MASK);
}

Position ExchangeRecord::Decode(std::uint32_t word) {
  return {static_cast<Step>(word >> STEP_SHIFT), word & INDEX_MASK, (word & LINE_FEED_BIT) != 0};
}

// A record in shared memory is plain data: all zero is an idle one, as a new
// record starts.
ExchangeRecord& RecordIn(std::span<unsigned char> payload) {
  static_assert(sizeof(ExchangeRecord) <= 256 && alignof(ExchangeRecord) <= 16);
  return *std::launder(reinterpret_cast<ExchangeRecord*>(payload.data()));
}

}  // namespace orvex::link
