#include "fake_card.h"

#include "fake_clock.h"

namespace orvex::driver_test {

orvex_port FakeCard::Port() {
  static const orvex_register_ops ops = {.read = &FakeCard::ReadRegister,
                                         .write = &FakeCard::WriteRegister};
  return {.ops = &ops, .context = this};
}

std::uint8_t FakeCard::ReadRegister(void* context, unsigned offset) {
  auto* card = static_cast<FakeCard*>(context);
  if (offset == ORVEX_DATA_REGISTER) return card->data_;
  return card->ShowHandshake();
}

void FakeCard::WriteRegister(void* context, unsigned offset, std::uint8_t value) {
  auto* card = static_cast<FakeCard*>(context);
  card->writes.push_back({offset, value});
  if (offset == ORVEX_DATA_REGISTER && card->phase_ != Phase::Standing) card->data_ = value;
  if (offset == ORVEX_HANDSHAKE_REGISTER) card->WriteHandshake(value);
}

// Whether the delay for step `index` has passed since the host first looked.
bool FakeCard::WaitedFor(const std::map<std::size_t, std::uint64_t>& delays, std::size_t index) {
  if (!first_look_) first_look_ = Clock().now;
  const auto delay = delays.find(index);
  return delay == delays.end() || Clock().now - *first_look_ >= delay->second;
}

void FakeCard::Enter(Phase phase) {
  phase_ = phase;
  first_look_.reset();
}

std::uint8_t FakeCard::ShowHandshake() {
  std::uint8_t shown = 0x01;
  switch (phase_) {
    case Phase::Idle:
      shown =
          (replied_ ? WaitedFor({{0, ready_after_reply}}, 0) : WaitedFor(ready_delay, taken.size()))
              ? ORVEX_SHOWS_READY
              : 0x01;
      // After a line ends in a carriage return and the host has seen READY,
      // the reply, if any, is offered.
      if (shown == ORVEX_SHOWS_READY && reply_length_ > offered_) Enter(Phase::Offered);
      break;
    case Phase::Strobed:
      shown = WaitedFor(acknowledge_delay, taken.size()) ? ORVEX_SHOWS_PENDING : ORVEX_STROBE;
      break;
    case Phase::Offered:
      shown = WaitedFor(offer_delay, offered_) ? ORVEX_SHOWS_PENDING : 0x01;
      break;
    case Phase::Standing:
      shown = WaitedFor(standing_delay, offered_) ? standing_value : ORVEX_SHOWS_PENDING;
      break;
  }
  return stuck.value_or(shown);
}

void FakeCard::WriteHandshake(std::uint8_t value) {
  if (value == ORVEX_STROBE && phase_ == Phase::Idle) {
    replied_ = false;
    Enter(Phase::Strobed);
  } else if (value == ORVEX_STROBE && phase_ == Phase::Offered) {
    data_ = static_cast<std::uint8_t>(reply[offered_]);
    Enter(Phase::Standing);
  } else if (value == ORVEX_RELEASE && phase_ == Phase::Strobed) {
    taken.push_back(static_cast<char>(data_));
    if (data_ == ORVEX_CARRIAGE_RETURN) {
      reply_length_ = reply.size();
      offered_ = 0;
    }
    Enter(Phase::Idle);
  } else if (value == ORVEX_RELEASE && phase_ == Phase::Standing) {
    ++offered_;
    replied_ = offered_ == reply_length_;
    Enter(offered_ < reply_length_ ? Phase::Offered : Phase::Idle);
  } else {
    ++protocol_errors;
  }
}

std::vector<Write> CommandByteWrites(std::uint8_t byte) {
  return {{ORVEX_DATA_REGISTER, byte},
          {ORVEX_HANDSHAKE_REGISTER, ORVEX_STROBE},
          {ORVEX_HANDSHAKE_REGISTER, ORVEX_RELEASE}};
}

std::vector<Write> ReplyByteWrites() {
  return {{ORVEX_HANDSHAKE_REGISTER, ORVEX_STROBE}, {ORVEX_HANDSHAKE_REGISTER, ORVEX_RELEASE}};
}

}  // namespace orvex::driver_test
