#include "link/exchange.h"

#include <string_view>

#include "link/link.h"
#include "link/register_lock.h"
#include "port/platform.h"

namespace orvex::link {

bool SendLine(std::string_view line) {
  const RegisterLock registers;
  return SendCommand(line, port::PORT_BASE);
}

QueryReply Query(std::string_view line) {
  QueryReply reply;
  const RegisterLock registers;
  if (!SendCommand(line, port::PORT_BASE)) return reply;
  const ReplyResult received = ReadReply(reply.bytes, port::PORT_BASE);
  reply.answered = received.delivered;
  reply.length = received.length;
  return reply;
}

}  // namespace orvex::link
