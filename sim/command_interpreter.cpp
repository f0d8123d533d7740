#include "command_interpreter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace orvex::sim {
namespace {

std::optional<std::size_t> AxisOfLine(std::string_view line) {
  if (line.empty() || (line.front() != '1' && line.front() != '2')) return std::nullopt;
  return static_cast<std::size_t>(line.front() - '1');
}

// The number after a mnemonic: optional spaces, an optional sign, digits.
std::optional<std::int64_t> ArgumentOf(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::size_t Finish(std::span<std::uint8_t> reply, std::size_t length) {
  reply[length++] = '\r';
  reply[length++] = '\n';
  return length;
}

}  // namespace

std::optional<std::size_t> CommandInterpreter::Execute(std::string_view line, Microseconds now,
                                                       std::span<std::uint8_t> reply) {
  AdvanceTo(now);
  const std::optional<std::size_t> axis = AxisOfLine(line);
  if (axis) line.remove_prefix(1);
  std::optional<std::size_t> answer;
  while (!line.empty()) {
    const std::size_t separator = std::min(line.find(';'), line.size());
    const std::optional<std::size_t> this_answer =
        ExecuteCommand(axis, line.substr(0, separator), now, reply);
    if (this_answer) answer = this_answer;
    line.remove_prefix(std::min(separator + 1, line.size()));
  }
  return answer;
}

std::optional<std::size_t> CommandInterpreter::ExecuteCommand(std::optional<std::size_t> axis,
                                                              std::string_view command,
                                                              Microseconds now,
                                                              std::span<std::uint8_t> reply) {
  const std::string_view mnemonic = command.substr(0, 2);
  const std::optional<std::int64_t> value = ArgumentOf(command.substr(mnemonic.size()));
  if (mnemonic == "TS" && !axis) return AnswerStatus(reply);
  if (mnemonic == "TP" && axis) return AnswerPosition(*axis, reply);
  if (!Move(axis, mnemonic, value, now)) ++unknown_commands_;
  return std::nullopt;
}

bool CommandInterpreter::Move(std::optional<std::size_t> axis, std::string_view mnemonic,
                              std::optional<std::int64_t> value, Microseconds now) {
  if (!axis) return false;
  MotionAxis& moved = axes_[*axis];
  const auto number = static_cast<double>(value.value_or(0));
  if (mnemonic == "ST") {
    moved.Stop(now);
  } else if (mnemonic == "DH") {
    moved.DefineHome(now);
  } else if (mnemonic == "FI" || mnemonic == "FM") {
    // Accepted; the virtual axes have no motor settings.
  } else if (!value) {
    return false;
  } else if (mnemonic == "PA") {
    moved.MoveTo(number, now);
  } else if (mnemonic == "PR") {
    moved.MoveBy(number, now);
  } else if (mnemonic == "VA") {
    moved.SetSpeed(number);
  } else if (mnemonic == "AC") {
    moved.SetAcceleration(number);
  } else {
    return false;
  }
  return true;
}

std::size_t CommandInterpreter::AnswerPosition(std::size_t axis,
                                               std::span<std::uint8_t> reply) const {
  const auto counts = static_cast<std::int64_t>(std::llround(axes_[axis].State().position));
  std::array<char, 24> digits{};
  const auto written = std::to_chars(digits.data(), digits.data() + digits.size(), counts);
  std::size_t length = 0;
  if (counts >= 0) reply[length++] = '+';
  for (const char* digit = digits.data(); digit != written.ptr; ++digit) {
    reply[length++] = static_cast<std::uint8_t>(*digit);
  }
  return Finish(reply, length);
}

std::size_t CommandInterpreter::AnswerStatus(std::span<std::uint8_t> reply) const {
  std::uint8_t status = kStatusBase;
  if (axes_[0].State().moving) status |= 0x01;
  if (axes_[1].State().moving) status |= 0x02;
  reply[0] = status;
  return Finish(reply, 1);
}

void CommandInterpreter::AdvanceTo(Microseconds now) {
  for (MotionAxis& axis : axes_) axis.AdvanceTo(now);
}

void CommandInterpreter::Reset() {
  for (MotionAxis& axis : axes_) axis.Reset();
  unknown_commands_ = 0;
}

}  // namespace orvex::sim
