// Carrying a command line to the controller.
#include <cstdint>
#include <string_view>

#include "link/handshake_wait.h"
#include "link/link.h"

namespace orvex::link {
namespace {

bool SendByte(std::uint8_t byte, port::PortAddress data, port::PortAddress handshake) {
  if (!AwaitHandshake(handshake, HANDSHAKE_WINDOW, Exactly(READY))) return false;
  port::WritePortByte(data, byte);
  port::WritePortByte(handshake, STROBE);
  if (!AwaitHandshake(handshake, ACKNOWLEDGE_BOUND, Exactly(PENDING))) return false;
  port::WritePortByte(handshake, RELEASE);
  return true;
}

}  // namespace

bool SendCommand(std::string_view command, port::PortAddress base) {
  const port::PortAddress handshake = base + 1;
  for (const char character : command) {
    if (!SendByte(static_cast<std::uint8_t>(character), base, handshake)) return false;
  }
  return AwaitHandshake(handshake, ACKNOWLEDGE_BOUND, Exactly(READY));
}

}  // namespace orvex::link
