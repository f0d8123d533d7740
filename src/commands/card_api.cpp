// The card API: the eleven operations on a card the host opened by its base,
// with what they are given checked before anything is sent.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "card/bases.h"
#include "commands/axis.h"
#include "commands/cards.h"
#include "commands/conversion.h"
#include "commands/motion_commands.h"
#include "commands/queries.h"
#include "commands/setup_sequence.h"
#include "link/card.h"
#include "link/exchange.h"
#include "orvexportio.h"

namespace orvex::commands {
namespace {

// The handle a host holds is the card itself: every handle to one base is the
// same card, which lives as long as the process.
orvex_card* HandleOf(link::Card* card) {
  return reinterpret_cast<orvex_card*>(card);
}

link::Card* CardOf(orvex_card* handle) {
  return reinterpret_cast<link::Card*>(handle);
}

int Outcome(bool delivered) {
  return delivered ? ORVEX_SUCCESS : ORVEX_ERROR_TIMEOUT;
}

bool IsAxisCode(int axis) {
  return axis == AXIS_BOTH || axis == AXIS_1 || axis == AXIS_2;
}

// The count the controller is sent for `value`, or nothing when the value is
// not finite or its count does not fit the controller's signed 32 bits. The
// eleven send such values wrapped (or as 0); a checked call refuses them.
std::optional<std::int32_t> CheckedCount(float value) {
  const std::optional<std::int64_t> count = WholeCount(value);
  if (!count || *count < std::numeric_limits<std::int32_t>::min() ||
      *count > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(*count);
}

// A speed is sent unsigned: a negative one would reach the controller as a
// huge one, and one above zero that truncates to no count would never move.
std::optional<std::int32_t> CheckedSpeed(float speed) {
  const std::optional<std::int32_t> count = CheckedCount(speed);
  if (!count || speed < 0.0F || (speed > 0.0F && *count == 0)) return std::nullopt;
  return count;
}

// Runs `command(card, axis)` once the card and the axis code are known good.
template <typename Command>
int OnAxes(orvex_card* handle, int axis, Command command) {
  link::Card* card = CardOf(handle);
  if (card == nullptr) return ORVEX_ERROR_CARD;
  if (!IsAxisCode(axis)) return ORVEX_ERROR_AXIS;
  return command(*card, static_cast<signed char>(axis));
}

int SendPosition(orvex_card* handle, int axis, std::string_view mnemonic, float value) {
  return OnAxes(handle, axis, [&](link::Card& card, signed char addressed) {
    const std::optional<std::int32_t> count = CheckedCount(value);
    if (!count) return ORVEX_ERROR_VALUE;
    return Outcome(SendPositionLines(card, addressed, mnemonic, *count));
  });
}

int SendBare(orvex_card* handle, int axis, std::string_view mnemonic) {
  return OnAxes(handle, axis, [&](link::Card& card, signed char addressed) {
    return Outcome(SendBareLines(card, addressed, mnemonic));
  });
}

const char* MessageFor(int error) {
  switch (error) {
    case ORVEX_SUCCESS:
      return "success";
    case ORVEX_ERROR_TIMEOUT:
      return "the controller did not answer in time: no controller at this base, or it stopped "
             "answering";
    case ORVEX_ERROR_AXIS:
      return "not an axis code this function takes (0 for both axes, 1 or 2; a position is read "
             "from axis 1 or 2); nothing was sent";
    case ORVEX_ERROR_VALUE:
      return "a value the controller cannot be sent (not finite, beyond its signed 32-bit count, "
             "a negative speed, or a speed below one count); nothing was sent";
    case ORVEX_ERROR_BASE_RANGE:
      return "no card can sit at this base: both its registers must lie within 0x100-0x3FF";
    case ORVEX_ERROR_BASE_DEVICE:
      return "the card's registers would overlap a standard PC device";
    case ORVEX_ERROR_BASE_SETTING:
      return "ORVEXPORTIO_BASE is not a base written in hexadecimal with 0x, such as 0x300";
    case ORVEX_ERROR_CARD:
      return "no card was given";
    case ORVEX_ERROR_REPLY:
      return "the controller answered without the number asked for";
    case ORVEX_ERROR_MEMORY:
      return "no room could be made for another card";
    case ORVEX_ERROR_NOT_SHARED:
      return "other processes that drive this card are not kept apart from this one: its "
             "machine-wide record could not be had (the diagnosis says why)";
    default:
      return "unknown error";
  }
}

}  // namespace
}  // namespace orvex::commands

using namespace orvex::commands;

extern "C" {

const char* ORVEX_CALL orvex_error_message(int error) {
  return MessageFor(error);
}

const char* ORVEX_CALL orvex_base_conflict(unsigned base) {
  return orvex::card::BaseConflict(base);
}

int ORVEX_CALL orvex_default_base(unsigned* base) {
  unsigned found = 0;
  const int outcome = BaseOfTheEleven(found);
  if (base != nullptr) *base = found;
  return outcome;
}

orvex_card* ORVEX_CALL orvex_open(unsigned base, int* error) {
  int outcome = ORVEX_SUCCESS;
  orvex::link::Card* card = OpenCard(base, outcome);
  if (error != nullptr) *error = outcome;
  return HandleOf(card);
}

void ORVEX_CALL orvex_close(orvex_card* /*card*/) {
  // Nothing to give back: a card stays for the life of the process, and other
  // handles to it may still be in use.
}

int ORVEX_CALL orvex_count_of(float value, long long* count) {
  if (count == nullptr) return ORVEX_ERROR_VALUE;
  const std::optional<std::int64_t> whole = WholeCount(value);
  if (!whole) return ORVEX_ERROR_VALUE;
  *count = *whole;
  return ORVEX_SUCCESS;
}

int ORVEX_CALL orvex_value_for_count(long long count, float* value) {
  if (value == nullptr) return ORVEX_ERROR_VALUE;
  float below = 0.0F;
  const std::optional<float> exact = ValueForCount(count, below);
  *value = exact.value_or(below);
  return exact ? ORVEX_SUCCESS : ORVEX_ERROR_VALUE;
}

unsigned ORVEX_CALL orvex_card_base(const orvex_card* card) {
  if (card == nullptr) return 0;
  return reinterpret_cast<const orvex::link::Card*>(card)->Base();
}

int ORVEX_CALL orvex_ma(orvex_card* card, int axis, float target) {
  return SendPosition(card, axis, "PA", target);
}

int ORVEX_CALL orvex_mr(orvex_card* card, int axis, float distance) {
  return SendPosition(card, axis, "PR", distance);
}

int ORVEX_CALL orvex_sv(orvex_card* card, int axis, float speed) {
  return OnAxes(card, axis, [&](orvex::link::Card& chosen, signed char addressed) {
    const std::optional<std::int32_t> count = CheckedSpeed(speed);
    if (!count) return ORVEX_ERROR_VALUE;
    return Outcome(SendSpeedLines(chosen, addressed, *count));
  });
}

int ORVEX_CALL orvex_st(orvex_card* card, int axis) {
  return SendBare(card, axis, "ST");
}

int ORVEX_CALL orvex_dh(orvex_card* card, int axis) {
  return SendBare(card, axis, "DH");
}

int ORVEX_CALL orvex_gh(orvex_card* card, int axis) {
  return orvex_ma(card, axis, 0.0F);
}

int ORVEX_CALL orvex_tp(orvex_card* card, int axis, float* position) {
  // A position belongs to one axis: both (0) is no axis code here.
  const int one_axis = axis == AXIS_BOTH ? -1 : axis;
  return OnAxes(card, one_axis, [&](orvex::link::Card& chosen, signed char addressed) {
    if (position == nullptr) return ORVEX_ERROR_VALUE;
    const PositionAnswer answer = QueryPosition(chosen, addressed);
    if (!answer.answered) return ORVEX_ERROR_TIMEOUT;
    if (!answer.position) return ORVEX_ERROR_REPLY;
    *position = static_cast<float>(*answer.position);
    return ORVEX_SUCCESS;
  });
}

int ORVEX_CALL orvex_ok(orvex_card* card) {
  float position = 0.0F;
  return orvex_tp(card, AXIS_1, &position);
}

int ORVEX_CALL orvex_mt(orvex_card* card, int axis, int* at_rest) {
  return OnAxes(card, axis, [&](orvex::link::Card& chosen, signed char addressed) {
    if (at_rest == nullptr) return ORVEX_ERROR_VALUE;
    const StatusReply reply = QueryStatus(chosen);
    if (!reply.exchanged) return ORVEX_ERROR_TIMEOUT;
    *at_rest = AxesDone(addressed, reply.Status()) ? 1 : 0;
    return ORVEX_SUCCESS;
  });
}

int ORVEX_CALL orvex_ws(orvex_card* card, int axis) {
  return OnAxes(card, axis, [](orvex::link::Card& chosen, signed char addressed) {
    return Outcome(WaitUntilStopped(chosen, addressed));
  });
}

int ORVEX_CALL orvex_card_holder(orvex_card* card, orvex_holder* holder) {
  orvex::link::Card* chosen = CardOf(card);
  if (chosen == nullptr) return ORVEX_ERROR_CARD;
  if (holder == nullptr) return ORVEX_ERROR_VALUE;
  *holder = orvex_holder{};
  const orvex::link::CardHolder found = orvex::link::HolderOf(*chosen);
  if (!found.shared) return ORVEX_ERROR_NOT_SHARED;
  if (!found.held) return ORVEX_SUCCESS;
  holder->process = found.process;
  std::copy(found.program.begin(), found.program.end(), holder->program);
  holder->program[sizeof(holder->program) - 1] = '\0';
  holder->seconds = found.held_seconds;
  std::copy(found.line.begin(), found.line.end(), holder->line);
  holder->line[sizeof(holder->line) - 1] = '\0';
  return ORVEX_SUCCESS;
}

int ORVEX_CALL orvex_rt(orvex_card* card, int axis) {
  return OnAxes(card, axis, [](orvex::link::Card& chosen, signed char addressed) {
    return Outcome(RunSetupSequence(chosen, addressed));
  });
}

}  // extern "C"
