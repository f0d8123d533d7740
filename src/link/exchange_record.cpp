#include "link/exchange_record.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <span>
#include <string_view>

namespace orvex::link {
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

// A record in shared memory is plain data: all zero is an idle one, as a new
// record starts.
ExchangeRecord& RecordIn(std::span<unsigned char> payload) {
  static_assert(sizeof(ExchangeRecord) <= 256 && alignof(ExchangeRecord) <= 16);
  return *std::launder(reinterpret_cast<ExchangeRecord*>(payload.data()));
}

}  // namespace orvex::link
