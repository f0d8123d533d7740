// RT: the paced set-up sequence for one axis or both.
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "commands/setup_sequence.h"

#include "commands/axis.h"
#include "commands/cards.h"
#include "link/clock.h"
#include "link/exchange.h"
#include "orvexportio.h"

namespace orvex::commands {
namespace {

constexpr unsigned SETUP_PAUSE_MS = 50;

// A step is a line to send, or a pause where the line is empty.
using SetupStep = std::string_view;
constexpr SetupStep PAUSE{};

constexpr std::array<SetupStep, 7> AXIS_1_SEQUENCE = {
    "1FI11\r", PAUSE, "1VA1000;AC50000\r", PAUSE, "1FM3\r", PAUSE, "1DH\r"};

constexpr std::array<SetupStep, 6> AXIS_2_SEQUENCE = {
    "2FI11\r", "2VA1000;AC50000\r", PAUSE, "2FM3\r", PAUSE, "2DH\r"};

constexpr std::array<SetupStep, 14> BOTH_AXES_SEQUENCE = {
    "1FI11\r", "1VA1000;AC50000\r", PAUSE, "1FM03\r", PAUSE, "1DH\r", PAUSE, "2FI11\r",
    PAUSE,     "2VA1000;AC50000\r", PAUSE, "2FM03\r", PAUSE, "2DH\r"};

// The speed the set-up lines set, read from the lines themselves, is the
// one the header publishes.
constexpr unsigned SpeedSetBy(SetupStep line) {
  unsigned speed = 0;
  for (std::size_t at = line.find("VA") + 2; at < line.size() && line[at] >= '0' && line[at] <= '9';
       ++at) {
    speed = speed * 10 + static_cast<unsigned>(line[at] - '0');
  }
  return speed;
}
static_assert(SpeedSetBy(AXIS_1_SEQUENCE[2]) == ORVEX_SETUP_SPEED_COUNTS &&
              SpeedSetBy(AXIS_2_SEQUENCE[1]) == ORVEX_SETUP_SPEED_COUNTS &&
              SpeedSetBy(BOTH_AXES_SEQUENCE[1]) == ORVEX_SETUP_SPEED_COUNTS &&
              SpeedSetBy(BOTH_AXES_SEQUENCE[9]) == ORVEX_SETUP_SPEED_COUNTS);

std::span<const SetupStep> SequenceFor(signed char axis) {
  switch (axis) {
    case AXIS_1:
      return AXIS_1_SEQUENCE;
    case AXIS_2:
      return AXIS_2_SEQUENCE;
    default:
      return BOTH_AXES_SEQUENCE;
  }
}

// Sends the steps in order. The outcome is the first line's: when it fails
// nothing follows; when a later line fails the sequence stops there, but the
// outcome stays a success. The outcome of the last line is not looked at.
bool RunSteps(link::Card& card, std::span<const SetupStep> steps) {
  bool first_line = true;
  for (std::size_t index = 0; index < steps.size(); ++index) {
    if (steps[index] == PAUSE) {
      link::PauseMilliseconds(SETUP_PAUSE_MS);
      continue;
    }
    const bool delivered = link::SendLine(card, steps[index]);
    if (!delivered && first_line) return false;
    if (!delivered && index + 1 < steps.size()) return true;
    first_line = false;
  }
  return true;
}

}  // namespace

bool RunSetupSequence(link::Card& card, signed char axis) {
  return RunSteps(card, SequenceFor(axis));
}

}  // namespace orvex::commands

extern "C" int ORVEX_CALL RT(signed char axis) {
  using namespace orvex::commands;
  return OnElevensCard(axis, RunSetupSequence);
}
