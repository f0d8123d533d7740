#include "link/exchange.h"

#include <string_view>

#include "link/card.h"
#include "link/link.h"
#include "link/register_lock.h"

namespace orvex::link {

bool SendLine(Card& card, std::string_view line) {
  bool delivered = false;
  auto send = [&] { delivered = SendCommand(line, card.Ports()); };
  RunInTurn(card.Queue(), ExchangeWork::Of(send));
  return delivered;
}

QueryReply Query(Card& card, std::string_view line) {
  QueryReply reply;
  auto ask = [&] {
    if (!SendCommand(line, card.Ports())) return;
    const ReplyResult received = ReadReply(reply.bytes, card.Ports());
    reply.answered = received.delivered;
    reply.length = received.length;
  };
  RunInTurn(card.Queue(), ExchangeWork::Of(ask));
  return reply;
}

}  // namespace orvex::link
