// The queries: TP and OK read a position, MT and WS the status byte.
#include "commands/queries.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "commands/axis.h"
#include "commands/cards.h"
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
constexpr double STATUS_SILENCE_BOUND = ORVEX_STATUS_SILENCE_SECONDS;

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

}  // namespace

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

bool WaitUntilStopped(link::Card& card, signed char axis) {
  double last_answer = link::NowSeconds();
  for (;;) {
    const StatusReply reply = QueryStatus(card);
    if (reply.exchanged) {
      if (AxesDone(axis, reply.Status())) return true;
      last_answer = link::NowSeconds();
    } else if (link::NowSeconds() - last_answer >= STATUS_SILENCE_BOUND) {
      return false;
    }
  }
}

PositionAnswer QueryPosition(link::Card& card, signed char axis) {
  if (axis != AXIS_1 && axis != AXIS_2) return {};
  const link::QueryReply reply =
      link::Query(card, CommandLine::ForAxis(axis).Text("TP").End().View());
  if (!reply.answered) return {};
  const std::optional<float> counts = ParsePositionReply(reply.Received());
  if (!counts) return {true, std::nullopt};
  return {true, static_cast<double>(*counts) / COUNTS_PER_UNIT};
}

StatusReply QueryStatus(link::Card& card) {
  const link::QueryReply reply = link::Query(card, "TS\r");
  StatusReply status;
  status.exchanged = reply.answered;
  if (reply.answered) {
    std::copy_n(reply.bytes.begin(), std::min(reply.length, status.first_bytes.size()),
                status.first_bytes.begin());
  }
  return status;
}

namespace {

// A position of the eleven's card, or nothing; nothing is sent when that
// card cannot be reached.
std::optional<double> ElevensPosition(signed char axis) {
  link::Card* card = CardOfTheEleven();
  if (card == nullptr) return std::nullopt;
  return QueryPosition(*card, axis).position;
}

}  // namespace
}  // namespace orvex::commands

extern "C" {

float ORVEX_CALL TP(signed char axis) {
  using namespace orvex::commands;
  const std::optional<double> position = ElevensPosition(AxisFromArgument(axis));
  return position ? static_cast<float>(*position) : POSITION_ERROR;
}

int ORVEX_CALL OK(void) {
  using namespace orvex::commands;
  return ElevensPosition(AXIS_1) ? 1 : 0;
}

int ORVEX_CALL MT(signed char axis) {
  using namespace orvex::commands;
  orvex::link::Card* card = CardOfTheEleven();
  if (card == nullptr) return 0;
  return StatusResult(AxisFromArgument(axis), QueryStatus(*card));
}

int ORVEX_CALL WS(signed char axis) {
  using namespace orvex::commands;
  return OnElevensCard(axis, WaitUntilStopped);
}

}  // extern "C"
