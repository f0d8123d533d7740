#include "handshake.h"

#include <cstdint>
#include <optional>

namespace orvex::sim {
namespace {

constexpr std::uint8_t kCarriageReturn = '\r';
constexpr std::uint8_t kStrobe = 0x80;
constexpr std::uint8_t kRelease = 0x00;

}  // namespace

std::uint8_t ControllerHandshake::ReadHandshake(FaultPlan& faults, Microseconds now) {
  std::uint8_t shown = kShowsBusy;
  switch (phase_) {
    case Phase::Idle:
      shown = faults.WithholdsReadiness(bytes_taken_, now) ? kShowsBusy : kShowsReady;
      break;
    case Phase::ByteTaken:
    case Phase::ReplyOffered:
      shown = kShowsPending;
      break;
    case Phase::Unacknowledged:
      shown = kStrobe;
      break;
    case Phase::LineDone:
      shown = kShowsReady;
      phase_ = Phase::ReplyOffered;
      break;
    case Phase::ReplyStanding:
      shown = faults.ReplyStandingValue();
      break;
  }
  return faults.Shown(shown);
}

void ControllerHandshake::WriteHandshake(std::uint8_t value, FaultPlan& faults, Microseconds now,
                                         LineSink& sink) {
  if (value == kStrobe) {
    Strobe(faults, now);
  } else if (value == kRelease) {
    Release(faults, sink, now);
  } else {
    ++protocol_errors_;
  }
}

void ControllerHandshake::WriteData(std::uint8_t value) {
  if (phase_ != Phase::ReplyStanding) data_register_ = value;
}

void ControllerHandshake::Strobe(FaultPlan& faults, Microseconds now) {
  if (phase_ == Phase::Idle && !faults.WithholdsReadiness(bytes_taken_, now)) {
    phase_ = faults.Acknowledges(bytes_taken_) ? Phase::ByteTaken : Phase::Unacknowledged;
  } else if (phase_ == Phase::ReplyOffered) {
    data_register_ = NextReplyByte();
    phase_ = Phase::ReplyStanding;
  } else {
    ++protocol_errors_;
  }
}

void ControllerHandshake::Release(FaultPlan& faults, LineSink& sink, Microseconds now) {
  if (phase_ == Phase::ByteTaken) {
    TakeByte(data_register_, faults, sink, now);
  } else if (phase_ == Phase::ReplyStanding) {
    ++reply_offered_;
    const bool stops = faults.StopsReplyAfter(reply_offered_);
    phase_ = ReplyExhausted(faults) || stops ? Phase::Idle : Phase::ReplyOffered;
  } else {
    ++protocol_errors_;
  }
}

void ControllerHandshake::TakeByte(std::uint8_t byte, FaultPlan& faults, LineSink& sink,
                                   Microseconds now) {
  ++bytes_taken_;
  faults.ByteTaken();
  phase_ = Phase::Idle;
  if (current_line_.length < ReceivedLine::kCapacity) {
    current_line_.bytes[current_line_.length++] = static_cast<char>(byte);
  } else {
    current_line_.overlong = 1;
  }
  if (byte == kCarriageReturn) CompleteLine(faults, sink, now);
}

void ControllerHandshake::CompleteLine(const FaultPlan& faults, LineSink& sink, Microseconds now) {
  current_line_.completed_at = now;
  const std::optional<std::size_t> answer = sink.LineCompleted(current_line_, reply_);
  current_line_ = ReceivedLine{};
  if (!answer) return;
  reply_length_ = static_cast<std::uint32_t>(faults.Reshape(reply_, *answer));
  reply_offered_ = 0;
  phase_ = Phase::LineDone;
}

bool ControllerHandshake::ReplyExhausted(const FaultPlan& faults) const {
  return !faults.EndlessReply() && reply_offered_ >= reply_length_;
}

std::uint8_t ControllerHandshake::NextReplyByte() const {
  return reply_offered_ < reply_length_ ? reply_[reply_offered_] : kEndlessReplyFiller;
}

void ControllerHandshake::AbandonTransfer() {
  phase_ = Phase::Idle;
  current_line_ = ReceivedLine{};
  reply_length_ = 0;
  reply_offered_ = 0;
}

void ControllerHandshake::Reset() {
  AbandonTransfer();
  data_register_ = 0;
  bytes_taken_ = 0;
  protocol_errors_ = 0;
}

}  // namespace orvex::sim
