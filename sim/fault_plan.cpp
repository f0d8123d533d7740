#include "fault_plan.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orvex::sim {

void FaultPlan::Set(const Faults& faults) {
  faults_ = faults;
  handshake_looks_ = 0;
}

void FaultPlan::Clear() {
  Set(Faults{});
  first_look_for_ready_.reset();
}

Faults& FaultPlan::Change() {
  handshake_looks_ = 0;
  return faults_;
}

std::uint8_t FaultPlan::Shown(std::uint8_t value) const {
  if (faults_.silent) return kShowsBusy;
  return faults_.stuck_handshake.value_or(value);
}

bool FaultPlan::WithholdsReadiness(std::uint64_t bytes_taken, Microseconds now) {
  if (faults_.dies_after_bytes && bytes_taken >= *faults_.dies_after_bytes) return true;
  const auto& delay = faults_.readiness_delay;
  if (!delay || delay->before_byte != bytes_taken) return false;
  if (!first_look_for_ready_) first_look_for_ready_ = now;
  return now < *first_look_for_ready_ + delay->delay;
}

Microseconds FaultPlan::HostStallAfterLook() {
  ++handshake_looks_;
  const auto& stall = faults_.host_stall;
  if (!stall || handshake_looks_ < stall->after_looks) return 0;
  if (handshake_looks_ != stall->after_looks && !stall->every_look) return 0;
  return stall->length;
}

std::size_t FaultPlan::Reshape(std::span<std::uint8_t> reply, std::size_t length) const {
  if (faults_.endless_reply) return std::min<std::size_t>(length, 1);
  if (faults_.binary_replies) {
    length = kBinaryReply.size();
    std::copy(kBinaryReply.begin(), kBinaryReply.end(), reply.begin());
  }
  if (faults_.overlong_replies && length > 0) {
    const std::size_t padding = std::min(kOverlongPadding, reply.size() - length);
    const std::uint8_t last = reply[length - 1];
    std::fill_n(reply.begin() + static_cast<std::ptrdiff_t>(length - 1), padding, '7');
    length += padding;
    reply[length - 1] = last;
  }
  return length;
}

}  // namespace orvex::sim
