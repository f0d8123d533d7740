#include "commands.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iomanip>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "arguments.h"
#include "library.h"
#include "library_location.h"
#include "orvexportio.h"
#include "runner.h"

namespace orvexctl {
namespace {

Outcome Succeeded(std::string result) {
  return {true, std::move(result), {}};
}

Outcome Failed(std::string result, std::string failure) {
  return {false, std::move(result), std::move(failure)};
}

Outcome Unexpected(int result) {
  return Failed("unexpected result " + std::to_string(result),
                "the library returned " + std::to_string(result) + ", which it never should here");
}

Outcome LineDelivered(int result) {
  if (result == 1) return Succeeded("delivered");
  if (result == 0) {
    return Failed("time-out", "a line was not delivered: the controller did not take it in time");
  }
  return Unexpected(result);
}

Outcome SetupStarted(int result) {
  if (result == 1) return Succeeded("delivered");
  if (result == 0) {
    return Failed("time-out",
                  "the first set-up line was not delivered: the controller did not take it in "
                  "time");
  }
  return Unexpected(result);
}

Outcome Position(float position) {
  if (position == ORVEX_POSITION_ERROR) {
    return Failed("no position",
                  "the controller did not answer the position query with a number in time");
  }
  return Succeeded(FormatPosition(position));
}

Outcome Answered(int result) {
  if (result == 1) return Succeeded("answered");
  return Failed("no answer", "no controller answered the axis-1 position query");
}

Outcome Waited(int result) {
  if (result == 1) return Succeeded("done");
  if (result == 0) {
    return Failed("no answer", "the controller stopped answering the status query for a second");
  }
  return Unexpected(result);
}

// The adapters, one for each shape of exported function; the function's type
// is the one orvexportio.h declares.
using Interpretation = Outcome (*)(int result);

template <Interpretation interpret>
Outcome CallWithAxisAndValue(const LibraryExports& library, const Invocation& invocation) {
  const auto function = library.FunctionOf<decltype(&::MA)>(*invocation.command);
  return interpret(function(invocation.axis, invocation.value));
}

template <Interpretation interpret>
Outcome CallWithAxis(const LibraryExports& library, const Invocation& invocation) {
  const auto function = library.FunctionOf<decltype(&::ST)>(*invocation.command);
  return interpret(function(invocation.axis));
}

Outcome CallForPosition(const LibraryExports& library, const Invocation& invocation) {
  const auto function = library.FunctionOf<decltype(&::TP)>(*invocation.command);
  return Position(function(invocation.axis));
}

Outcome CallWithoutArguments(const LibraryExports& library, const Invocation& invocation) {
  const auto function = library.FunctionOf<decltype(&::OK)>(*invocation.command);
  return Answered(function());
}

// MT's 0 stands both for a moving axis and for a failed exchange; a
// controller that still answers the position query (OK) is taken to be moving.
Outcome CallForRest(const LibraryExports& library, const Invocation& invocation) {
  const int result = library.FunctionOf<decltype(&::MT)>(*invocation.command)(invocation.axis);
  if (result == 1) return Succeeded("done");
  if (result != 0) return Unexpected(result);
  if (library.FunctionOf<decltype(&::OK)>(*FindCommand("ok"))() == 1) return Succeeded("moving");
  return Failed("no answer", "no controller answered the status query");
}

constexpr CommandSpec kCommands[] = {
    {"ma", "MA", AxisCodes::BothOrOne, ValueKind::Position, "TARGET",
     R"(1PA <count>\r, 2PA <count>\r  (move to TARGET))", "delivered",
     CallWithAxisAndValue<LineDelivered>},
    {"mr", "MR", AxisCodes::BothOrOne, ValueKind::Position, "DISTANCE",
     R"(1PR <count>\r, 2PR <count>\r  (move by DISTANCE))", "delivered",
     CallWithAxisAndValue<LineDelivered>},
    {"sv", "SV", AxisCodes::BothOrOne, ValueKind::Speed, "SPEED",
     R"(1VA<count>\r, 2VA<count>\r  (set the speed))", "delivered",
     CallWithAxisAndValue<LineDelivered>},
    {"st", "ST", AxisCodes::BothOrOne, ValueKind::None, "", R"(1ST\r, 2ST\r  (stop))", "delivered",
     CallWithAxis<LineDelivered>},
    {"dh", "DH", AxisCodes::BothOrOne, ValueKind::None, "",
     R"(1DH\r, 2DH\r  (this position is home))", "delivered", CallWithAxis<LineDelivered>},
    {"gh", "GH", AxisCodes::BothOrOne, ValueKind::None, "", R"(1PA 0\r, 2PA 0\r  (go home))",
     "delivered", CallWithAxis<LineDelivered>},
    {"tp", "TP", AxisCodes::OneOrTwo, ValueKind::None, "", R"(1TP\r or 2TP\r)",
     "the position in caller units", CallForPosition},
    {"ok", "OK", AxisCodes::None, ValueKind::None, "", R"(1TP\r)", "answered",
     CallWithoutArguments},
    {"mt", "MT", AxisCodes::BothOrOne, ValueKind::None, "",
     R"(TS\r; after a 0 also 1TP\r, to tell moving from silent)", "done or moving", CallForRest},
    {"ws", "WS", AxisCodes::BothOrOne, ValueKind::None, "", R"(TS\r until the axes are at rest)",
     "done", CallWithAxis<Waited>},
    {"rt", "RT", AxisCodes::BothOrOne, ValueKind::None, "",
     R"(FI11, VA1000;AC50000, FM3 (FM03 for both), DH, paced)", "delivered (its first line)",
     CallWithAxis<SetupStarted>},
};

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char character) {
    return static_cast<char>(std::tolower(character));
  });
  return lowered;
}

std::string Synopsis(const CommandSpec& command) {
  std::string synopsis(command.name);
  if (command.axes != AxisCodes::None) synopsis += " AXIS";
  if (command.value != ValueKind::None) synopsis += " " + std::string(command.value_name);
  return synopsis;
}

}  // namespace

std::span<const CommandSpec> Commands() {
  return kCommands;
}

const CommandSpec* FindCommand(std::string_view name) {
  const std::string lowered = Lowered(name);
  const auto found =
      std::find_if(std::begin(kCommands), std::end(kCommands),
                   [&](const CommandSpec& command) { return command.name == lowered; });
  return found == std::end(kCommands) ? nullptr : &*found;
}

bool AcceptsAxis(const CommandSpec& command, long long code) {
  switch (command.axes) {
    case AxisCodes::OneOrTwo:
      return code == 1 || code == 2;
    case AxisCodes::BothOrOne:
      return code >= 0 && code <= 2;
    case AxisCodes::None:
      break;
  }
  return false;
}

std::string_view AcceptedAxesText(const CommandSpec& command) {
  return command.axes == AxisCodes::OneOrTwo ? "1 or 2" : "0 (both), 1 or 2";
}

std::string HelpText() {
  std::ostringstream help;
  help << "usage: orvexctl [--simulate | --library PATH] [--trace] [--fast] [--vcd FILE]\n"
          "                [--float]\n"
          "                COMMAND [ARGS] [COMMAND [ARGS] ...]\n"
          "       orvexctl --route\n"
          "\n"
          "Calls the library's functions, one for each COMMAND, in order and in one process,\n"
          "and prints each result on a line of its own. Stops at the first failure.\n"
          "\n"
          "options (before the first command):\n"
          "  --simulate      load the virtual-controller build, "
       << SimulatedLibraryName()
       << "\n"
          "  --library PATH  load exactly the library at PATH\n"
          "                  (default: the build for the card, "
       << HardwareLibraryName()
       << ",\n"
          "                  looked for beside orvexctl, then in its library folder)\n"
          "  --trace         print each line the virtual controller receives, with its\n"
          "                  time; repeats of a line are counted on one row\n"
          "  --fast          run the virtual controller on its virtual clock: exact and\n"
          "                  faster than real time (it runs in real time otherwise)\n"
          "  --vcd FILE      record the bus into FILE, a Value Change Dump, with a\n"
          "                  GTKWave save file beside it\n"
          "  --float         hand each value to the library as a host's float does:\n"
          "                  single precision, which the library multiplies by 100 and\n"
          "                  truncates (sv 1 0.01 then sends 1VA0, ma 1 0.29 sends 28)\n"
          "  --route         print how the library for the card reaches it on this\n"
          "                  machine (the driver's /dev/orvexN, ioperm, /dev/port or\n"
          "                  none) and why the better ways are closed; sends nothing\n"
          "  --help          print this text\n"
          "  --version       print orvexctl's version\n"
          "\n"
          "commands (in either case); AXIS is 1 or 2 for one axis, 0 for both;\n"
          "values are in caller units, sent as <count> = value x 100 to the nearest\n"
          "whole count (the nearest hundredth: 0.29 sends 29, 0.01 sends 1):\n";
  for (const CommandSpec& command : kCommands) {
    help << "  " << std::left << std::setw(18) << Synopsis(command) << "sends " << command.sends
         << "\n"
         << std::setw(20) << ""
         << "prints " << command.prints << "\n";
  }
  help << "\n"
          "tp takes AXIS 1 or 2 only and prints the position to the nearest hundredth.\n"
          "A TARGET or DISTANCE must give a count within the controller's signed 32 bits\n"
          "(-21474836.48 to 21474836.47); a SPEED must not be negative, and one above 0\n"
          "must give at least 1 count. Beyond 131072 not every hundredth has a float\n"
          "that gives it: such a value is refused, naming the nearest that do.\n"
          "mt prints moving only when the controller still answers; ws waits as long as\n"
          "the axes move and fails once the controller has been silent for a second.\n"
          "\n"
          "exit status: 0 every command succeeded; 1 a command failed (what failed, its\n"
          "likely cause and the route go to standard error); 2 bad arguments (nothing was\n"
          "sent); 3 the library could not be found or loaded, or lacks a function.\n";
  return help.str();
}

}  // namespace orvexctl
