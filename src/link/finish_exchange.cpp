#include "link/finish_exchange.h"

#include <cstdint>
#include <span>
#include <string_view>

#include "link/exchange_record.h"
#include "link/link.h"
#include "link/steps.h"

namespace orvex::link {
namespace {

using port::Register;

bool IsLineStep(Step step) {
  return step >= Step::AwaitReady && step <= Step::Release;
}

bool IsReplyStep(Step step) {
  return step >= Step::AwaitOffer && step <= Step::AwaitReplyDone;
}

std::uint8_t LookAtHandshake(const port::CardPorts& card) {
  return port::ReadPortByte(card, Register::Handshake);
}

// What finishing the line leaves to do.
enum class LineOutcome { Failed, Sent, SentAndLooked };

// The rest of the line from command byte `at.index`. A strobe shows as
// PENDING until the release; a release shows as anything else, and after the
// last byte it is READY, the one look the controller gives before it offers
// a reply: taken here, so the caller does not wait for another.
LineOutcome FinishLine(Position at, std::string_view line, const port::CardPorts& card,
                       ExchangeRecord& record) {
  const std::uint32_t index = at.index;
  const auto byte = static_cast<std::uint8_t>(index < line.size() ? line[index] : '\r');
  switch (at.step) {
    case Step::Strobe:
      if (LookAtHandshake(card) != PENDING) break;  // the strobe never went out
      [[fallthrough]];
    case Step::AwaitTaken:
      if (!SendByteFrom(Step::AwaitTaken, byte, index, card, record)) return LineOutcome::Failed;
      return SendBytesFrom(line, index + 1, card, record) ? LineOutcome::Sent : LineOutcome::Failed;
    case Step::Release: {
      const std::uint8_t shown = LookAtHandshake(card);
      if (shown == PENDING) {
        record.Note(Step::Release, index);
        port::WritePortByte(card, Register::Handshake, RELEASE);
      } else if (index + 1 == line.size() && shown == READY) {
        return LineOutcome::SentAndLooked;
      }
      return SendBytesFrom(line, index + 1, card, record) ? LineOutcome::Sent : LineOutcome::Failed;
    }
    default:
      break;
  }
  return SendBytesFrom(line, index, card, record) ? LineOutcome::Sent : LineOutcome::Failed;
}

// After the line: READY once. For a query the dead holder may have taken that
// look already, and then the controller offers its reply (PENDING).
bool FinishLineDone(bool query, const port::CardPorts& card, ExchangeRecord& record) {
  if (query) {
    record.Note(Step::AwaitLineDone);
    const std::uint8_t shown = LookAtHandshake(card);
    if (shown == READY || shown == PENDING) return true;
  }
  return AwaitLineDone(card, record);
}

// The rest of the reply from the noted step, dropped. A reply byte asked for
// stands at 0x80 or more until its release; a released byte leaves PENDING
// (the next one offered) unless it was the line feed, whose release cannot be
// told from its standing: a release of an idle controller is taken for none,
// so it is given again.
void FinishReply(Position at, const port::CardPorts& card, ExchangeRecord& record) {
  std::span<std::uint8_t> dropped;
  switch (at.step) {
    case Step::AwaitOffer:
      (void)ReadReplyFrom(Step::AwaitOffer, at.index, dropped, card, record);
      return;
    case Step::AskByte:
      (void)ReadReplyFrom(LookAtHandshake(card) == PENDING ? Step::AwaitOffer : Step::AwaitStanding,
                          at.index, dropped, card, record);
      return;
    case Step::AwaitStanding:
    case Step::TakeByte:
      (void)ReadReplyFrom(Step::AwaitStanding, at.index, dropped, card, record);
      return;
    case Step::ReleaseByte:
      if (at.line_feed || LookAtHandshake(card) >= 0x80) {
        record.Note(Step::ReleaseByte, at.index, at.line_feed);
        port::WritePortByte(card, Register::Handshake, RELEASE);
      }
      if (at.line_feed) {
        (void)AwaitReplyDone(card, record);
      } else {
        (void)ReadReplyFrom(Step::AwaitOffer, at.index + 1, dropped, card, record);
      }
      return;
    case Step::AwaitReplyDone:
      (void)AwaitReplyDone(card, record);
      return;
    default:
      return;
  }
}

void FinishInFlight(ExchangeRecord& record, const port::CardPorts& card) {
  Position at = record.At();
  const bool query = record.Query();
  if (IsLineStep(at.step)) {
    const LineOutcome line = FinishLine(at, record.Line(), card, record);
    if (line == LineOutcome::Failed) return;
    if (line == LineOutcome::Sent && !FinishLineDone(query, card, record)) return;
    at = {Step::AwaitOffer, 0, false};
  } else if (at.step == Step::AwaitLineDone) {
    if (!FinishLineDone(query, card, record)) return;
    at = {Step::AwaitOffer, 0, false};
  }
  if (query && IsReplyStep(at.step)) FinishReply(at, card, record);
}

}  // namespace

void FinishExchange(ExchangeRecord& record, const port::CardPorts& card) {
  if (record.At().step != Step::Idle) FinishInFlight(record, card);
  record.End();
}

}  // namespace orvex::link
