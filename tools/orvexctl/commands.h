// The commands orvexctl knows: one row for each of the library's eleven
// functions, named after it, and one for who holds the card, each with the
// arguments it takes, the lines it sends and the adapters that call it: the
// eleven on their card, and the card API on a card opened by its base.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orvexctl {

struct Invocation;
struct Outcome;
class LibraryExports;
struct CardSession;

// Which axis codes a command accepts.
enum class AxisCodes : std::uint8_t {
  None,       // no axis argument
  OneOrTwo,   // 1 or 2
  BothOrOne,  // 0 (both), 1 or 2
};

// What a command's value means, which decides the range it may take.
enum class ValueKind : std::uint8_t {
  None,
  Position,  // signed: the count must fit the controller's signed 32 bits
  Speed,     // not negative: the count must fit 32 unsigned bits
};

// Calls a command's function in a loaded build with the invocation's
// arguments, and tells what came of it.
using Adapter = Outcome (*)(const LibraryExports& library, const Invocation& invocation);

// The same through the card API, on an opened card.
using CardAdapter = Outcome (*)(const CardSession& card, const Invocation& invocation);

struct CommandSpec {
  std::string_view name;      // lower case, as typed (in either case)
  std::string_view function;  // the exported function's name: "MA"; "" for the card API alone
  AxisCodes axes;
  ValueKind value;
  std::string_view value_name;  // for messages and the help text
  std::string_view sends;       // the lines it puts on the wire
  std::string_view prints;      // what orvexctl prints when it succeeds
  Adapter call;                 // nullptr for the card API alone
  CardAdapter card_call;
};

std::span<const CommandSpec> Commands();

// The command with this name in either case, or nullptr.
const CommandSpec* FindCommand(std::string_view name);

bool AcceptsAxis(const CommandSpec& command, long long code);

// "0, 1 or 2" / "1 or 2".
std::string_view AcceptedAxesText(const CommandSpec& command);

// The full --help text.
std::string HelpText();

}  // namespace orvexctl
