// Bringing a reply line in from the controller, each step noted in the
// exchange's record before it is taken, and from any step on, for the
// finishing of a dead holder's reply.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "link/exchange_record.h"
#include "link/handshake_wait.h"
#include "link/link.h"
#include "link/steps.h"

namespace orvex::link {
namespace {

using port::Register;

// Reply byte `index`, from step `from` on: AwaitOffer, or AwaitStanding once
// the byte was asked for.
std::optional<std::uint8_t> ReceiveByteFrom(Step from, std::uint32_t index,
                                            const port::CardPorts& card, ExchangeRecord& record) {
  if (from != Step::AwaitStanding) {
    record.Note(Step::AwaitOffer, index);
    if (!AwaitHandshake(card, HANDSHAKE_WINDOW, Exactly(PENDING))) return std::nullopt;
    record.Note(Step::AskByte, index);
    port::WritePortByte(card, Register::Handshake, STROBE);
  }
  record.Note(Step::AwaitStanding, index);
  if (!AwaitHandshake(card, ACKNOWLEDGE_BOUND, AtLeast(0x80))) return std::nullopt;
  record.Note(Step::TakeByte, index);
  const std::uint8_t byte = port::ReadPortByte(card, Register::Data);
  record.Note(Step::ReleaseByte, index, byte == LINE_FEED);
  port::WritePortByte(card, Register::Handshake, RELEASE);
  return byte;
}

}  // namespace

bool AwaitReplyDone(const port::CardPorts& card, ExchangeRecord& record) {
  record.Note(Step::AwaitReplyDone);
  return AwaitHandshake(card, ACKNOWLEDGE_BOUND, Exactly(READY));
}

ReplyResult ReadReplyFrom(Step from, std::uint32_t first, std::span<std::uint8_t> buffer,
                          const port::CardPorts& card, ExchangeRecord& record) {
  std::size_t received = 0;
  bool line_ended = false;
  for (std::uint32_t index = first; !line_ended && index < REPLY_BOUND; ++index) {
    const Step step = index == first ? from : Step::AwaitOffer;
    const std::optional<std::uint8_t> byte = ReceiveByteFrom(step, index, card, record);
    if (!byte) break;
    if (received < buffer.size()) buffer[received] = *byte;
    ++received;
    line_ended = *byte == LINE_FEED;
  }
  const std::size_t stored = received < buffer.size() ? received : buffer.size();
  if (!line_ended) return {false, stored};
  const bool back_to_ready = AwaitReplyDone(card, record);
  return {back_to_ready && received <= buffer.size(), stored};
}

ReplyResult ReadReply(std::span<std::uint8_t> buffer, const port::CardPorts& card,
                      ExchangeRecord& record) {
  return ReadReplyFrom(Step::AwaitOffer, 0, buffer, card, record);
}

ReplyResult ReadReply(std::span<std::uint8_t> buffer, const port::CardPorts& card) {
  ExchangeRecord record{};
  return ReadReply(buffer, card, record);
}

}  // namespace orvex::link
