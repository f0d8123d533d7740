// The queries: TP and OK read a position, MT and WS the status byte.
#include "commands/queries.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "commands/axis.h"
#include "commands/command_line.h"
#include "commands/constants.h"
#include "commands/position_text.h"
#include "link/clock.h"
#include "link/exchange.h"
#include "orvexportio.h"

namespace orvex::commands {
namespace {

constexpr std::uint8_t AXIS_1_MOVING = 0x01;
constexpr std::uint8_t AXIS_2_MOVING = 0x02;

// How long WS keeps asking a controller that no longer answers, in seconds.
constexpr double STATUS_SILENCE_BOUND = 1.0;

bool AxesDone(signed char axis, std::uint8_t status) {
  switch (axis) {
    case AXIS_BOTH:
      return (status & (AXIS_1_MOVING | AXIS_2_MOVING)) == 0;
    case AXIS_1:
      return (status & AXIS_1_MOVING) == 0;
    default:
      return (status & AXIS_2_MOVING) == 0;
  }
}

// The first four reply bytes as a little-endian word, for axis codes that
// address no axis.
int ReplyWord(const StatusReply& reply) {
  std::uint32_t word = 0;
  for (std::size_t index = reply.first_bytes.size(); index-- > 0;) {
    word = (word << 8) | reply.first_bytes[index];
  }
  return static_cast<int>(word);
}

// MT's result: 1 or 0 for the addressed axes, the reply word for codes that
// address no axis, 0 when the exchange failed.
int StatusResult(signed char axis, const StatusReply& reply) {
  if (!reply.exchanged) return 0;
  if (!AddressesAnAxis(axis)) return ReplyWord(reply);
  return AxesDone(axis, reply.Status()) ? 1 : 0;
}

// True once the addressed axes are at rest; false once the controller has
// been silent for STATUS_SILENCE_BOUND.
bool WaitUntilStopped(signed char axis) {
  double last_answer = link::NowSeconds();
  for (;;) {
    const StatusReply reply = QueryStatus();
    if (reply.exchanged) {
      if (AxesDone(axis, reply.Status())) return true;
      last_answer = link::NowSeconds();
    } else if (link::NowSeconds() - last_answer >= STATUS_SILENCE_BOUND) {
      return false;
    }
  }
}

}  // namespace

std::optional<double> QueryPosition(signed char axis) {
  if (axis != AXIS_1 && axis != AXIS_2) return std::nullopt;
  const link::QueryReply reply = link::Query(CommandLine::ForAxis(axis).Text("TP").End().View());
  if (!reply.answered) return std::nullopt;
  const std::optional<float> counts = ParsePositionReply(reply.Received());
  if (!counts) return std::nullopt;
  return static_cast<double>(*counts) / COUNTS_PER_UNIT;
}

StatusReply QueryStatus() {
  const link::QueryReply reply = link::Query("TS\r");
  StatusReply status;
  status.exchanged = reply.answered;
  if (reply.answered) {
    std::copy_n(reply.bytes.begin(), std::min(reply.length, status.first_bytes.size()),
                status.first_bytes.begin());
  }
  return status;
}

}  // namespace orvex::commands

extern "C" {

float ORVEX_CALL TP(signed char axis) {
  const std::optional<double> position =
      orvex::commands::QueryPosition(orvex::commands::AxisFromArgument(axis));
  return position ? static_cast<float>(*position) : orvex::commands::POSITION_ERROR;
}

int ORVEX_CALL OK(void) {
  return orvex::commands::QueryPosition(orvex::commands::AXIS_1) ? 1 : 0;
}

int ORVEX_CALL MT(signed char axis) {
  return orvex::commands::StatusResult(orvex::commands::AxisFromArgument(axis),
                                       orvex::commands::QueryStatus());
}

int ORVEX_CALL WS(signed char axis) {
  return orvex::commands::ResultForAxisCode(axis, orvex::commands::WaitUntilStopped);
}

}  // extern "C"
