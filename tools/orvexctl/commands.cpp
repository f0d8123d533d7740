#include "commands.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iomanip>
#include <sstream>
#include <string>
#include <string_view>

#include "library_location.h"

namespace orvexctl {
namespace {

constexpr std::array<CommandSpec, 11> kCommands = {{
    {"ma", Export::MA, AxisCodes::BothOrOne, ValueKind::Position, "TARGET",
     R"(1PA <count>\r, 2PA <count>\r  (move to TARGET))", "delivered"},
    {"mr", Export::MR, AxisCodes::BothOrOne, ValueKind::Position, "DISTANCE",
     R"(1PR <count>\r, 2PR <count>\r  (move by DISTANCE))", "delivered"},
    {"sv", Export::SV, AxisCodes::BothOrOne, ValueKind::Speed, "SPEED",
     R"(1VA<count>\r, 2VA<count>\r  (set the speed))", "delivered"},
    {"st", Export::ST, AxisCodes::BothOrOne, ValueKind::None, "", R"(1ST\r, 2ST\r  (stop))",
     "delivered"},
    {"dh", Export::DH, AxisCodes::BothOrOne, ValueKind::None, "",
     R"(1DH\r, 2DH\r  (this position is home))", "delivered"},
    {"gh", Export::GH, AxisCodes::BothOrOne, ValueKind::None, "", R"(1PA 0\r, 2PA 0\r  (go home))",
     "delivered"},
    {"tp", Export::TP, AxisCodes::OneOrTwo, ValueKind::None, "", R"(1TP\r or 2TP\r)",
     "the position in caller units"},
    {"ok", Export::OK, AxisCodes::None, ValueKind::None, "", R"(1TP\r)", "answered"},
    {"mt", Export::MT, AxisCodes::BothOrOne, ValueKind::None, "",
     R"(TS\r; after a 0 also 1TP\r, to tell moving from silent)", "done or moving"},
    {"ws", Export::WS, AxisCodes::BothOrOne, ValueKind::None, "",
     R"(TS\r until the axes are at rest)", "done"},
    {"rt", Export::RT, AxisCodes::BothOrOne, ValueKind::None, "",
     R"(FI11, VA1000;AC50000, FM3 (FM03 for both), DH, paced)", "delivered (its first line)"},
}};

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
      std::find_if(kCommands.begin(), kCommands.end(),
                   [&](const CommandSpec& command) { return command.name == lowered; });
  return found == kCommands.end() ? nullptr : &*found;
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
          "                COMMAND [ARGS] [COMMAND [ARGS] ...]\n"
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
          "  --help          print this text\n"
          "\n"
          "commands (in either case); AXIS is 1 or 2 for one axis, 0 for both;\n"
          "values are in caller units, sent as <count> = value x 100:\n";
  for (const CommandSpec& command : kCommands) {
    help << "  " << std::left << std::setw(18) << Synopsis(command) << "sends " << command.sends
         << "\n"
         << std::setw(20) << ""
         << "prints " << command.prints << "\n";
  }
  help << "\n"
          "tp takes AXIS 1 or 2 only. A TARGET or DISTANCE must give a count within the\n"
          "controller's signed 32 bits (+-21474836.47); a SPEED must not be negative.\n"
          "mt prints moving only when the controller still answers; ws waits as long as\n"
          "the axes move and fails once the controller has been silent for a second.\n"
          "\n"
          "exit status: 0 every command succeeded; 1 a command failed (what failed and\n"
          "its likely cause go to standard error); 2 bad arguments (nothing was sent);\n"
          "3 the library could not be found or loaded, or lacks a function.\n";
  return help.str();
}

}  // namespace orvexctl
