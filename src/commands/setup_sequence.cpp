// RT: the paced set-up sequence for one axis or both.
#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "commands/axis.h"
#include "commands/exchange.h"
#include "orvexportio.h"
#include "port/platform.h"

namespace orvex::commands {
namespace {

constexpr unsigned SETUP_PAUSE_MS = 50;

// A step is a line to send, or a pause where the line is empty.
using SetupStep = std::string_view;
constexpr SetupStep PAUSE{};

constexpr std::array<SetupStep, 7> kAxis1Sequence = {
    "1FI11\r", PAUSE, "1VA1000;AC50000\r", PAUSE, "1FM3\r", PAUSE, "1DH\r"};

constexpr std::array<SetupStep, 6> kAxis2Sequence = {
    "2FI11\r", "2VA1000;AC50000\r", PAUSE, "2FM3\r", PAUSE, "2DH\r"};

constexpr std::array<SetupStep, 14> kBothAxesSequence = {
    "1FI11\r", "1VA1000;AC50000\r", PAUSE, "1FM03\r", PAUSE, "1DH\r", PAUSE, "2FI11\r",
    PAUSE,     "2VA1000;AC50000\r", PAUSE, "2FM03\r", PAUSE, "2DH\r"};

std::span<const SetupStep> SequenceFor(signed char axis) {
  switch (axis) {
    case AXIS_1:
      return kAxis1Sequence;
    case AXIS_2:
      return kAxis2Sequence;
    default:
      return kBothAxesSequence;
  }
}

// Sends the steps in order. The result is the first line's outcome: when it
// fails nothing follows; when a later line fails the sequence stops there,
// but the result stays 1. The outcome of the last line is not looked at.
int RunSetupSequence(std::span<const SetupStep> steps) {
  bool first_line = true;
  for (std::size_t index = 0; index < steps.size(); ++index) {
    if (steps[index] == PAUSE) {
      port::PauseMilliseconds(SETUP_PAUSE_MS);
      continue;
    }
    const bool delivered = SendLine(steps[index]) == 1;
    if (!delivered && first_line) return 0;
    if (!delivered && index + 1 < steps.size()) return 1;
    first_line = false;
  }
  return 1;
}

int SetUpAxes(signed char axis) {
  if (!AddressesAnAxis(axis)) return axis;
  return RunSetupSequence(SequenceFor(axis));
}

}  // namespace
}  // namespace orvex::commands

extern "C" int ORVEX_CALL RT(signed char axis) {
  return orvex::commands::SetUpAxes(orvex::commands::AxisFromArgument(axis));
}
