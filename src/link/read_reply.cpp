// Bringing a reply line in from the controller.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "link/handshake_wait.h"
#include "link/link.h"

namespace orvex::link {
namespace {

using port::Register;

std::optional<std::uint8_t> ReceiveByte(const port::CardPorts& card) {
  if (!AwaitHandshake(card, HANDSHAKE_WINDOW, Exactly(PENDING))) return std::nullopt;
  port::WritePortByte(card, Register::Handshake, STROBE);
  if (!AwaitHandshake(card, ACKNOWLEDGE_BOUND, AtLeast(0x80))) return std::nullopt;
  const std::uint8_t byte = port::ReadPortByte(card, Register::Data);
  port::WritePortByte(card, Register::Handshake, RELEASE);
  return byte;
}

}  // namespace

ReplyResult ReadReply(std::span<std::uint8_t> buffer, const port::CardPorts& card) {
  std::size_t received = 0;
  bool line_ended = false;
  while (!line_ended && received < REPLY_BOUND) {
    const std::optional<std::uint8_t> byte = ReceiveByte(card);
    if (!byte) break;
    if (received < buffer.size()) buffer[received] = *byte;
    ++received;
    line_ended = *byte == LINE_FEED;
  }
  const std::size_t stored = received < buffer.size() ? received : buffer.size();
  if (!line_ended) return {false, stored};
  const bool back_to_ready = AwaitHandshake(card, ACKNOWLEDGE_BOUND, Exactly(READY));
  return {back_to_ready && received <= buffer.size(), stored};
}

}  // namespace orvex::link
