#include "commands/exchange.h"

#include <string_view>

#include "commands/constants.h"
#include "link/link.h"
#include "link/register_lock.h"

namespace orvex::commands {

int SendLine(std::string_view line) {
  const link::RegisterLock registers;
  return link::SendCommand(line, PORT_BASE);
}

QueryReply Query(std::string_view line) {
  QueryReply reply;
  const link::RegisterLock registers;
  if (link::SendCommand(line, PORT_BASE) == 0) return reply;
  const link::ReplyResult received = link::ReadReply(reply.bytes, PORT_BASE);
  reply.answered = received.delivered == 1;
  reply.length = received.length;
  return reply;
}

}  // namespace orvex::commands
