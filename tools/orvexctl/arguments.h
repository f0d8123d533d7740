// orvexctl's command line: options, then commands with their arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "orvexportio.h"

namespace orvexctl {

// One command to run, its arguments checked and converted.
struct Invocation {
  const CommandSpec* command = nullptr;
  signed char axis = 0;
  float value = 0.0F;  // handed to the library as it is, once ChooseValues has chosen it
  std::string text;    // as typed, for messages: "ma 1 2.5"
  // The value as typed, and what it stands for: the count meant (the
  // nearest hundredth), or with --float the host's single-precision value.
  std::string value_text;
  std::int64_t count = 0;
  std::optional<float> host_single;
};

enum class LibraryChoice { Hardware, Simulated, Path };

struct Request {
  LibraryChoice library = LibraryChoice::Hardware;
  std::string library_path;  // with LibraryChoice::Path
  bool trace = false;
  bool fast = false;             // the virtual controller on its virtual clock
  bool host_float = false;       // values as a host's float, not the nearest hundredth
  std::string vcd_path;          // record the bus there, when not empty
  std::optional<unsigned> base;  // --base: the card at this base, through the card API
  std::string base_text;         // as typed: "0x300"
  bool help = false;
  bool version = false;
  bool route = false;  // tell how the library for the card reaches it, and send nothing
  std::vector<Invocation> invocations;
};

struct ParsedArguments {
  std::optional<Request> request;
  std::string error;  // one line, when there is no request
};

// Reads the arguments after the program name. Every command and argument is
// checked before anything runs, so a bad one means that nothing is sent;
// what only the loaded library can judge (which float gives which count,
// where a card may sit) is checked by ChooseValues and main, still before.
ParsedArguments ParseArguments(std::span<const std::string_view> arguments);

// The library's own conversion between values and counts: the one source of
// which float gives which count.
struct CountConversion {
  decltype(&::orvex_count_of) count_of = nullptr;
  decltype(&::orvex_value_for_count) value_for_count = nullptr;
};

// Gives each invocation's value the float the library turns into the count
// meant (with --float, the host's float, whose count must fit). Returns the
// first refusal as one line, or nothing.
std::optional<std::string> ChooseValues(const CountConversion& conversion, Request& request);

}  // namespace orvexctl
