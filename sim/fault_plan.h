// The ways the virtual controller can be told to misbehave, and what each
// does to its side of the handshake.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "motion_model.h"

namespace orvex::sim {

// What the controller shows on its handshake register.
inline constexpr std::uint8_t kShowsReady = 0x80;
inline constexpr std::uint8_t kShowsPending = 0x00;
inline constexpr std::uint8_t kShowsBusy = 0x01;

// Named ways for the controller to misbehave. Byte numbers count every byte
// the controller has taken since it was reset, from 0.
struct Faults {
  // The controller takes no part in the handshake any more: its handshake
  // register reads kShowsBusy and it ignores what the host writes.
  bool silent = false;
  // The handshake register reads this value whatever happens.
  std::optional<std::uint8_t> stuck_handshake;
  // Once this many bytes were taken, READY is never shown again.
  std::optional<std::uint64_t> dies_after_bytes;
  // READY is withheld before byte `before_byte` until `delay` has passed since
  // the host first looked for it.
  struct ReadinessDelay {
    std::uint64_t before_byte = 0;
    Microseconds delay = 0;
  };
  std::optional<ReadinessDelay> readiness_delay;
  // The strobe of this byte is taken but never acknowledged.
  std::optional<std::uint64_t> never_acknowledges_byte;
  // What the handshake register shows while a reply byte stands on the data
  // register (0x80 to 0xFF).
  std::uint8_t reply_standing_value = kShowsReady;
  // After this many bytes of a reply the controller stops offering the rest.
  std::optional<std::size_t> reply_stops_after;
  // Replies never end: after their first byte the controller keeps offering
  // '9' and never a line feed.
  bool endless_reply = false;
  // Not the controller's fault: the host thread is descheduled for `length`
  // right after its `after_looks`-th look at the handshake register, and,
  // with `every_look`, after each look from then on.
  struct HostStall {
    std::uint64_t after_looks = 0;
    Microseconds length = 0;
    bool every_look = false;
  };
  std::optional<HostStall> host_stall;
  // Every reply carries kOverlongPadding extra '7's before its last byte.
  bool overlong_replies = false;
  // Every reply is replaced by kBinaryReply: NUL and bytes above 0x7F.
  bool binary_replies = false;
};

inline constexpr std::size_t kOverlongPadding = 300;
inline constexpr std::string_view kBinaryReply{"\x00\x80\xFF\xC3\r\n", 6};
inline constexpr std::uint8_t kEndlessReplyFiller = '9';

// The faults in play, with what they need to remember between accesses.
// Plain data of fixed widths (card_state.h says why): the optional settings
// of Faults are kept as a flag and a value each.
class FaultPlan {
 public:
  Faults Get() const;
  void Set(const Faults& faults);
  // None in play, and nothing remembered.
  void Clear();

  bool Silent() const { return silent_ != 0; }
  // What the handshake register shows when the controller would show `value`.
  std::uint8_t Shown(std::uint8_t value) const;
  // Whether READY is withheld before the next byte, with `bytes_taken` bytes
  // taken so far, at `now`.
  bool WithholdsReadiness(std::uint64_t bytes_taken, Microseconds now);
  // A byte was taken: the next one's readiness delay starts at its first look.
  void ByteTaken() { has_first_look_for_ready_ = 0; }
  bool Acknowledges(std::uint64_t byte) const {
    return has_never_acknowledges_byte_ == 0 || never_acknowledges_byte_ != byte;
  }
  // How long the host thread is held up after this look at the handshake register.
  Microseconds HostStallAfterLook();
  std::uint8_t ReplyStandingValue() const { return reply_standing_value_; }
  bool StopsReplyAfter(std::uint64_t offered) const {
    return has_reply_stops_after_ != 0 && offered >= reply_stops_after_;
  }
  bool EndlessReply() const { return endless_reply_ != 0; }
  // The reply as the faults have it, rewritten in `reply`; returns its length.
  std::size_t Reshape(std::span<std::uint8_t> reply, std::size_t length) const;

 private:
  std::uint64_t dies_after_bytes_ = 0;
  std::uint64_t readiness_before_byte_ = 0;
  Microseconds readiness_delay_ = 0;
  std::uint64_t never_acknowledges_byte_ = 0;
  std::uint64_t reply_stops_after_ = 0;
  std::uint64_t stall_after_looks_ = 0;
  Microseconds stall_length_ = 0;
  std::uint64_t handshake_looks_ = 0;  // since the faults were set
  Microseconds first_look_for_ready_ = 0;
  std::uint8_t silent_ = 0;
  std::uint8_t has_stuck_handshake_ = 0;
  std::uint8_t stuck_handshake_ = 0;
  std::uint8_t has_dies_after_bytes_ = 0;
  std::uint8_t has_readiness_delay_ = 0;
  std::uint8_t has_never_acknowledges_byte_ = 0;
  std::uint8_t reply_standing_value_ = kShowsReady;
  std::uint8_t has_reply_stops_after_ = 0;
  std::uint8_t has_host_stall_ = 0;
  std::uint8_t stall_every_look_ = 0;
  std::uint8_t overlong_replies_ = 0;
  std::uint8_t binary_replies_ = 0;
  std::uint8_t endless_reply_ = 0;
  std::uint8_t has_first_look_for_ready_ = 0;
  [[maybe_unused]] std::array<std::uint8_t, 2> padding_{};
};

}  // namespace orvex::sim
