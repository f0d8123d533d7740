#include "fault_plan.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace orvex::sim {
namespace {

template <typename Value>
std::optional<Value> Optional(std::uint8_t present, Value value) {
  return present != 0 ? std::optional<Value>(value) : std::nullopt;
}

// Splits `optional` into its flag and its value.
template <typename Stored, typename Value>
void Store(const std::optional<Value>& optional, std::uint8_t& present, Stored& stored) {
  present = optional ? 1 : 0;
  stored = optional ? static_cast<Stored>(*optional) : Stored{};
}

}  // namespace

Faults FaultPlan::Get() const {
  Faults faults;
  faults.silent = silent_ != 0;
  faults.stuck_handshake = Optional(has_stuck_handshake_, stuck_handshake_);
  faults.dies_after_bytes = Optional(has_dies_after_bytes_, dies_after_bytes_);
  faults.readiness_delay = Optional(
      has_readiness_delay_, Faults::ReadinessDelay{readiness_before_byte_, readiness_delay_});
  faults.never_acknowledges_byte = Optional(has_never_acknowledges_byte_, never_acknowledges_byte_);
  faults.reply_standing_value = reply_standing_value_;
  faults.reply_stops_after =
      Optional(has_reply_stops_after_, static_cast<std::size_t>(reply_stops_after_));
  faults.endless_reply = endless_reply_ != 0;
  faults.host_stall = Optional(has_host_stall_, Faults::HostStall{stall_after_looks_, stall_length_,
                                                                  stall_every_look_ != 0});
  faults.overlong_replies = overlong_replies_ != 0;
  faults.binary_replies = binary_replies_ != 0;
  return faults;
}

void FaultPlan::Set(const Faults& faults) {
  silent_ = faults.silent ? 1 : 0;
  Store(faults.stuck_handshake, has_stuck_handshake_, stuck_handshake_);
  Store(faults.dies_after_bytes, has_dies_after_bytes_, dies_after_bytes_);
  const Faults::ReadinessDelay delay = faults.readiness_delay.value_or(Faults::ReadinessDelay{});
  has_readiness_delay_ = faults.readiness_delay ? 1 : 0;
  readiness_before_byte_ = delay.before_byte;
  readiness_delay_ = delay.delay;
  Store(faults.never_acknowledges_byte, has_never_acknowledges_byte_, never_acknowledges_byte_);
  reply_standing_value_ = faults.reply_standing_value;
  Store(faults.reply_stops_after, has_reply_stops_after_, reply_stops_after_);
  endless_reply_ = faults.endless_reply ? 1 : 0;
  const Faults::HostStall stall = faults.host_stall.value_or(Faults::HostStall{});
  has_host_stall_ = faults.host_stall ? 1 : 0;
  stall_after_looks_ = stall.after_looks;
  stall_length_ = stall.length;
  stall_every_look_ = stall.every_look ? 1 : 0;
  overlong_replies_ = faults.overlong_replies ? 1 : 0;
  binary_replies_ = faults.binary_replies ? 1 : 0;
  handshake_looks_ = 0;
}

void FaultPlan::Clear() {
  Set(Faults{});
  has_first_look_for_ready_ = 0;
}

std::uint8_t FaultPlan::Shown(std::uint8_t value) const {
  if (silent_ != 0) return kShowsBusy;
  return has_stuck_handshake_ != 0 ? stuck_handshake_ : value;
}

bool FaultPlan::WithholdsReadiness(std::uint64_t bytes_taken, Microseconds now) {
  if (has_dies_after_bytes_ != 0 && bytes_taken >= dies_after_bytes_) return true;
  if (has_readiness_delay_ == 0 || readiness_before_byte_ != bytes_taken) return false;
  if (has_first_look_for_ready_ == 0) {
    first_look_for_ready_ = now;
    has_first_look_for_ready_ = 1;
  }
  return now < first_look_for_ready_ + readiness_delay_;
}

Microseconds FaultPlan::HostStallAfterLook() {
  ++handshake_looks_;
  if (has_host_stall_ == 0 || handshake_looks_ < stall_after_looks_) return 0;
  if (handshake_looks_ != stall_after_looks_ && stall_every_look_ == 0) return 0;
  return stall_length_;
}

std::size_t FaultPlan::Reshape(std::span<std::uint8_t> reply, std::size_t length) const {
  if (endless_reply_ != 0) return std::min<std::size_t>(length, 1);
  if (binary_replies_ != 0) {
    length = kBinaryReply.size();
    std::copy(kBinaryReply.begin(), kBinaryReply.end(), reply.begin());
  }
  if (overlong_replies_ != 0 && length > 0) {
    const std::size_t padding = std::min(kOverlongPadding, reply.size() - length);
    const std::uint8_t last = reply[length - 1];
    std::fill_n(reply.begin() + static_cast<std::ptrdiff_t>(length - 1), padding, '7');
    length += padding;
    reply[length - 1] = last;
  }
  return length;
}

}  // namespace orvex::sim
