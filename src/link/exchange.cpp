#include "link/exchange.h"

#include <algorithm>
#include <iterator>
#include <span>
#include <string_view>

#include "link/card.h"
#include "link/exchange_record.h"
#include "link/finish_exchange.h"
#include "link/link.h"
#include "link/register_lock.h"
#include "port/machine_wide.h"
#include "port/platform.h"

namespace orvex::link {
namespace {

// The card held machine-wide for one exchange, on top of this process's own
// turn at its registers: other processes that drive the card wait for it, or
// give up after the acknowledgement bound with nothing sent. An exchange a
// dead holder left in flight is finished first. Not taken where the platform
// carries the card's exchanges whole (a kernel driver): the kernel keeps the
// processes apart there, and finishes a dead process's line itself.
class MachineWideTurn {
 public:
  explicit MachineWideTurn(Card& card) : card_(card), hold_(Hold(card)) {
    const std::span<unsigned char> payload = port::SharedPayload(card.Ports());
    record_ = payload.empty() ? &card.OwnRecord() : &RecordIn(payload);
    // A live holder always ends its record before it lets the card go: one
    // still in flight was left by a holder that died.
    if (Taken() && record_->At().step != Step::Idle) FinishExchange(*record_, card.Ports());
  }
  ~MachineWideTurn() {
    if (hold_ == port::MachineHold::Taken || hold_ == port::MachineHold::TakenFromTheDead) {
      port::ReleaseCard(card_.Ports());
    }
  }
  MachineWideTurn(const MachineWideTurn&) = delete;
  MachineWideTurn& operator=(const MachineWideTurn&) = delete;

  // False when another process held the card past the bound.
  bool Taken() const { return hold_ != port::MachineHold::HeldElsewhere; }

  static port::MachineHold Hold(Card& card) {
    card.NameRecordOnce();
    return port::HoldCard(card.Ports(), ACKNOWLEDGE_BOUND);
  }
  ExchangeRecord& Record() { return *record_; }

 private:
  Card& card_;
  port::MachineHold hold_;
  ExchangeRecord* record_;
};

}  // namespace

bool SendLine(Card& card, std::string_view line) {
  bool delivered = false;
  auto send = [&] {
    if (const auto carried = port::CarryWholeExchange(card.Ports(), line, false, {})) {
      delivered = carried->delivered;
      return;
    }
    MachineWideTurn turn(card);
    if (!turn.Taken()) return;
    ExchangeRecord& record = turn.Record();
    record.Begin(line, false);
    delivered = SendCommand(line, card.Ports(), record);
    record.End();
  };
  RunInTurn(card.Queue(), ExchangeWork::Of(send));
  return delivered;
}

CardHolder HolderOf(Card& card) {
  card.NameRecordOnce();
  CardHolder holder;
  // The kernel keeps the processes apart on a card it carries, and ends
  // every exchange it starts: no process holds the card between calls.
  if (port::CarriesWholeExchanges(card.Ports())) {
    holder.shared = true;
    return holder;
  }
  const port::CardHolder found = port::HolderOf(card.Ports());
  holder.shared = port::SharingProblem(card.Ports()) == nullptr;
  if (!holder.shared || !found.held) return holder;
  holder.held = true;
  holder.process = found.process;
  std::copy(std::begin(found.program), std::end(found.program), holder.program.begin());
  holder.held_seconds = found.held_seconds;
  // Read without the card's lock, as it stands: for a person to read.
  const std::span<unsigned char> payload = port::SharedPayload(card.Ports());
  if (!payload.empty()) {
    const ExchangeRecord& record = RecordIn(payload);
    if (record.At().step != Step::Idle) {
      const std::string_view in_flight = record.Line();
      const std::size_t kept = std::min(in_flight.size(), holder.line.size() - 1);
      std::copy_n(in_flight.begin(), kept, holder.line.begin());
    }
  }
  return holder;
}

QueryReply Query(Card& card, std::string_view line) {
  QueryReply reply;
  auto ask = [&] {
    if (const auto carried = port::CarryWholeExchange(card.Ports(), line, true, reply.bytes)) {
      reply.answered = carried->delivered;
      reply.length = carried->reply_length;
      return;
    }
    MachineWideTurn turn(card);
    if (!turn.Taken()) return;
    ExchangeRecord& record = turn.Record();
    record.Begin(line, true);
    if (SendCommand(line, card.Ports(), record)) {
      const ReplyResult received = ReadReply(reply.bytes, card.Ports(), record);
      reply.answered = received.delivered;
      reply.length = received.length;
    }
    record.End();
  };
  RunInTurn(card.Queue(), ExchangeWork::Of(ask));
  return reply;
}

}  // namespace orvex::link
