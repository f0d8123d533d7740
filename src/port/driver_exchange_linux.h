// One exchange as the kernel driver's ioctl takes it (driver/orvex_abi.h),
// and what came of it, told as the link's own handshake tells it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

#include "orvex_abi.h"
#include "port/platform.h"

namespace orvex::port {

// Fills `request` for `line`; false when the driver cannot take a line that
// long (the library's lines are far shorter).
inline bool DriverRequest(std::string_view line, bool query, orvex_exchange& request) {
  request = orvex_exchange{};
  if (line.size() > ORVEX_LINE_MAX) return false;
  request.flags = query ? ORVEX_EXCHANGE_QUERY : 0U;
  request.line_length = static_cast<__u32>(line.size());
  std::memcpy(request.line, line.data(), line.size());
  return true;
}

// What the ioctl that returned `status` (0, or -1 with errno) left in
// `exchange`, with the reply's stored bytes copied into `reply`. Every
// failure is the handshake's time-out or unanswered query: the card busy for
// the whole bound and a wait cut short by a signal (EINTR) sent nothing, as
// a wait for another process's exchange that runs out sends nothing; a reply
// that did not come whole leaves the query unanswered, what was stored kept.
inline CarriedExchange DriverOutcome(int status, const orvex_exchange& exchange,
                                     std::span<std::uint8_t> reply) {
  CarriedExchange carried;
  if (status != 0) return carried;
  if ((exchange.flags & ORVEX_EXCHANGE_QUERY) != 0) {
    const std::size_t stored = std::min<std::size_t>(exchange.reply_length, ORVEX_REPLY_SIZE);
    carried.reply_length = std::min(stored, reply.size());
    std::memcpy(reply.data(), exchange.reply, carried.reply_length);
    if (stored > reply.size()) return carried;
  }
  carried.delivered = exchange.outcome == ORVEX_DELIVERED;
  return carried;
}

}  // namespace orvex::port
