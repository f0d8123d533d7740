#include "link/exchange.h"

#include <string_view>

#include "link/link.h"
#include "link/register_lock.h"
#include "port/platform.h"

namespace orvex::link {

bool SendLine(std::string_view line) {
  bool delivered = false;
  auto send = [&] { delivered = SendCommand(line, port::PORT_BASE); };
  RunInTurn(ExchangeWork::Of(send));
  return delivered;
}

QueryReply Query(std::string_view line) {
  QueryReply reply;
  auto ask = [&] {
    if (!SendCommand(line, port::PORT_BASE)) return;
    const ReplyResult received = ReadReply(reply.bytes, port::PORT_BASE);
    reply.answered = received.delivered;
    reply.length = received.length;
  };
  RunInTurn(ExchangeWork::Of(ask));
  return reply;
}

}  // namespace orvex::link
