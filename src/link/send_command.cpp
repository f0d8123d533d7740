// Carrying a command line to the controller, each step noted in the
// exchange's record before it is taken, and from any step on, for the
// finishing of a dead holder's line.
#include <cstdint>
#include <string_view>

#include "link/exchange_record.h"
#include "link/handshake_wait.h"
#include "link/link.h"
#include "link/steps.h"

namespace orvex::link {
namespace {

using port::Register;

}  // namespace

bool SendByteFrom(Step from, std::uint8_t byte, std::uint32_t index, const port::CardPorts& card,
                  ExchangeRecord& record) {
  if (from != Step::AwaitTaken) {
    record.Note(Step::AwaitReady, index);
    if (!AwaitHandshake(card, HANDSHAKE_WINDOW, Exactly(READY))) return false;
    record.Note(Step::PutByte, index);
    port::WritePortByte(card, Register::Data, byte);
    record.Note(Step::Strobe, index);
    port::WritePortByte(card, Register::Handshake, STROBE);
  }
  record.Note(Step::AwaitTaken, index);
  if (!AwaitHandshake(card, ACKNOWLEDGE_BOUND, Exactly(PENDING))) return false;
  record.Note(Step::Release, index);
  port::WritePortByte(card, Register::Handshake, RELEASE);
  return true;
}

bool SendBytesFrom(std::string_view line, std::uint32_t first, const port::CardPorts& card,
                   ExchangeRecord& record) {
  for (std::uint32_t index = first; index < line.size(); ++index) {
    if (!SendByteFrom(Step::AwaitReady, static_cast<std::uint8_t>(line[index]), index, card,
                      record)) {
      return false;
    }
  }
  return true;
}

bool AwaitLineDone(const port::CardPorts& card, ExchangeRecord& record) {
  record.Note(Step::AwaitLineDone);
  return AwaitHandshake(card, ACKNOWLEDGE_BOUND, Exactly(READY));
}

bool SendCommand(std::string_view command, const port::CardPorts& card, ExchangeRecord& record) {
  return SendBytesFrom(command, 0, card, record) && AwaitLineDone(card, record);
}

bool SendCommand(std::string_view command, const port::CardPorts& card) {
  ExchangeRecord record{};
  return SendCommand(command, card, record);
}

}  // namespace orvex::link
