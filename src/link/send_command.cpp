// Carrying a command line to the controller.
#include <cstdint>
#include <string_view>

#include "link/handshake_wait.h"
#include "link/link.h"

namespace orvex::link {
namespace {

using port::Register;

bool SendByte(std::uint8_t byte, const port::CardPorts& card) {
  if (!AwaitHandshake(card, HANDSHAKE_WINDOW, Exactly(READY))) return false;
  port::WritePortByte(card, Register::Data, byte);
  port::WritePortByte(card, Register::Handshake, STROBE);
  if (!AwaitHandshake(card, ACKNOWLEDGE_BOUND, Exactly(PENDING))) return false;
  port::WritePortByte(card, Register::Handshake, RELEASE);
  return true;
}

}  // namespace

bool SendCommand(std::string_view command, const port::CardPorts& card) {
  for (const char character : command) {
    if (!SendByte(static_cast<std::uint8_t>(character), card)) return false;
  }
  return AwaitHandshake(card, ACKNOWLEDGE_BOUND, Exactly(READY));
}

}  // namespace orvex::link
