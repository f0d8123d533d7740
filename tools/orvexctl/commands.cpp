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
#include "trace.h"

namespace orvexctl {
namespace {

Outcome Succeeded(std::string result) {
  return {true, std::move(result), {}, {}};
}

Outcome Failed(std::string result, std::string failure) {
  return {false, std::move(result), std::move(failure), {}};
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

// The card API's results, in the words of the adapters above.

Outcome Refused(const CardSession& card, int error) {
  return Failed("refused", card.api.orvex_error_message(error));
}

template <Interpretation interpret>
Outcome Interpreted(const CardSession& card, int error) {
  if (error == ORVEX_SUCCESS) return interpret(1);
  if (error == ORVEX_ERROR_TIMEOUT) return interpret(0);
  return Refused(card, error);
}

// orvex_ma ... orvex_rt on the card, the function named by its member of CardExports.
template <auto CardExports::*function, Interpretation interpret>
Outcome CardWithAxisAndValue(const CardSession& card, const Invocation& invocation) {
  return Interpreted<interpret>(card,
                                (card.api.*function)(card.card, invocation.axis, invocation.value));
}

template <auto CardExports::*function, Interpretation interpret>
Outcome CardWithAxis(const CardSession& card, const Invocation& invocation) {
  return Interpreted<interpret>(card, (card.api.*function)(card.card, invocation.axis));
}

Outcome CardForPosition(const CardSession& card, const Invocation& invocation) {
  float position = 0.0F;
  const int error = card.api.orvex_tp(card.card, invocation.axis, &position);
  if (error == ORVEX_SUCCESS) return Succeeded(FormatPosition(position));
  if (error == ORVEX_ERROR_REPLY) {
    return Failed("no position", "the controller answered the position query without a number");
  }
  if (error == ORVEX_ERROR_TIMEOUT) return Position(ORVEX_POSITION_ERROR);
  return Refused(card, error);
}

Outcome CardWithoutArguments(const CardSession& card, const Invocation&) {
  return Answered(card.api.orvex_ok(card.card) == ORVEX_SUCCESS ? 1 : 0);
}

Outcome CardForRest(const CardSession& card, const Invocation& invocation) {
  int at_rest = 0;
  const int error = card.api.orvex_mt(card.card, invocation.axis, &at_rest);
  if (error == ORVEX_SUCCESS) return Succeeded(at_rest == 1 ? "done" : "moving");
  if (error == ORVEX_ERROR_TIMEOUT) {
    return Failed("no answer", "no controller answered the status query");
  }
  return Refused(card, error);
}

// "held by process 4242 (orvexctl) for 2.5 s, line in flight: 1PA 250\r".
std::string HeldBy(const orvex_holder& holder) {
  std::ostringstream text;
  text << "held by process " << holder.process << " (" << holder.program << ") for " << std::fixed
       << std::setprecision(1) << holder.seconds << " s";
  if (holder.line[0] != '\0') text << ", line in flight: " << EscapedLine(holder.line);
  return text.str();
}

// Who holds the card: the process in the middle of an exchange with it.
Outcome CardHolder(const CardSession& card, const Invocation&) {
  orvex_holder holder{};
  const int error = card.api.orvex_card_holder(card.card, &holder);
  if (error == ORVEX_ERROR_NOT_SHARED) {
    return {false, "not kept apart", card.api.orvex_error_message(error), card.why_not_shared()};
  }
  if (error != ORVEX_SUCCESS) return Refused(card, error);
  return Succeeded(holder.process == 0 ? "not held" : HeldBy(holder));
}

constexpr CommandSpec kCommands[] = {
    {"ma", "MA", AxisCodes::BothOrOne, ValueKind::Position, "TARGET",
     R"(1PA <count>\r, 2PA <count>\r  (move to TARGET))", "delivered",
     CallWithAxisAndValue<LineDelivered>,
     CardWithAxisAndValue<&CardExports::orvex_ma, LineDelivered>},
    {"mr", "MR", AxisCodes::BothOrOne, ValueKind::Position, "DISTANCE",
     R"(1PR <count>\r, 2PR <count>\r  (move by DISTANCE))", "delivered",
     CallWithAxisAndValue<LineDelivered>,
     CardWithAxisAndValue<&CardExports::orvex_mr, LineDelivered>},
    {"sv", "SV", AxisCodes::BothOrOne, ValueKind::Speed, "SPEED",
     R"(1VA<count>\r, 2VA<count>\r  (set the speed))", "delivered",
     CallWithAxisAndValue<LineDelivered>,
     CardWithAxisAndValue<&CardExports::orvex_sv, LineDelivered>},
    {"st", "ST", AxisCodes::BothOrOne, ValueKind::None, "", R"(1ST\r, 2ST\r  (stop))", "delivered",
     CallWithAxis<LineDelivered>, CardWithAxis<&CardExports::orvex_st, LineDelivered>},
    {"dh", "DH", AxisCodes::BothOrOne, ValueKind::None, "",
     R"(1DH\r, 2DH\r  (this position is home))", "delivered", CallWithAxis<LineDelivered>,
     CardWithAxis<&CardExports::orvex_dh, LineDelivered>},
    {"gh", "GH", AxisCodes::BothOrOne, ValueKind::None, "", R"(1PA 0\r, 2PA 0\r  (go home))",
     "delivered", CallWithAxis<LineDelivered>, CardWithAxis<&CardExports::orvex_gh, LineDelivered>},
    {"tp", "TP", AxisCodes::OneOrTwo, ValueKind::None, "", R"(1TP\r or 2TP\r)",
     "the position in caller units", CallForPosition, CardForPosition},
    {"ok", "OK", AxisCodes::None, ValueKind::None, "", R"(1TP\r)", "answered", CallWithoutArguments,
     CardWithoutArguments},
    {"mt", "MT", AxisCodes::BothOrOne, ValueKind::None, "",
     R"(TS\r; after a 0 also 1TP\r, to tell moving from silent)", "done or moving", CallForRest,
     CardForRest},
    {"ws", "WS", AxisCodes::BothOrOne, ValueKind::None, "", R"(TS\r until the axes are at rest)",
     "done", CallWithAxis<Waited>, CardWithAxis<&CardExports::orvex_ws, Waited>},
    {"rt", "RT", AxisCodes::BothOrOne, ValueKind::None, "",
     R"(FI11, VA{speed};AC50000, FM3 (FM03 for both), DH, paced)", "delivered (its first line)",
     CallWithAxis<SetupStarted>, CardWithAxis<&CardExports::orvex_rt, SetupStarted>},
    {"holder", "", AxisCodes::None, ValueKind::None, "", "nothing (reads the card's record)",
     "not held, or the process, its program, for how long and the line in flight", nullptr,
     CardHolder},
};

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char character) {
    return static_cast<char>(std::tolower(character));
  });
  return lowered;
}

// The set-up speed, in counts, where a text says {speed}: the header states it once.
std::string WithSetupSpeed(std::string_view text) {
  std::string written(text);
  constexpr std::string_view mark = "{speed}";
  if (const auto at = written.find(mark); at != std::string::npos) {
    written.replace(at, mark.size(), std::to_string(ORVEX_SETUP_SPEED_COUNTS));
  }
  return written;
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
  help << "usage: orvexctl [--simulate | --library PATH] [--base BASE] [--trace] [--fast]\n"
          "                [--vcd FILE] [--float]\n"
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
          "  --base BASE     drive the card at BASE, the port its switches select, written\n"
          "                  in hexadecimal with 0x (0x300), through the library's card\n"
          "                  API; with --simulate a virtual card is put there when the\n"
          "                  bus has none. Without it, the card of the library's eleven\n"
          "                  functions: 0x340, or where ORVEXPORTIO_BASE puts it\n"
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
    help << "  " << std::left << std::setw(18) << Synopsis(command) << "sends "
         << WithSetupSpeed(command.sends) << "\n"
         << std::setw(20) << ""
         << "prints " << command.prints << "\n";
  }
  help << "\n"
          "tp takes AXIS 1 or 2 only and prints the position to the nearest hundredth.\n"
          "A TARGET or DISTANCE must give a count within the controller's signed 32 bits\n"
          "(-21474836.48 to 21474836.47); a SPEED must not be negative, and one above 0\n"
          "must give at least 1 count. Beyond 131072 not every hundredth has a float\n"
          "that gives it: such a value is refused, naming the nearest that do.\n"
          "holder prints who holds the card: the process in the middle of an exchange\n"
          "with it, its program, for how long, and the line in flight; it fails when the\n"
          "processes on the card are not kept apart, saying why.\n"
          "mt prints moving only when the controller still answers; ws waits as long as\n"
          "the axes move and fails once the controller has been silent for a second.\n"
          "\n"
          "exit status: 0 every command succeeded; 1 a command failed (what failed, its\n"
          "likely cause and the route go to standard error); 2 bad arguments (nothing was\n"
          "sent); 3 the library could not be found or loaded, or lacks a function.\n"
          "A BASE where no card may sit (over a standard PC device, or outside\n"
          "0x100-0x3FE), or an ORVEXPORTIO_BASE the library refuses, exits 2 saying why.\n";
  return help.str();
}

}  // namespace orvexctl
