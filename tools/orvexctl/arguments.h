// orvexctl's command line: options, then commands with their arguments.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"

namespace orvexctl {

// One command to run, its arguments checked and converted.
struct Invocation {
  const CommandSpec* command = nullptr;
  signed char axis = 0;
  float value = 0.0F;  // handed to the library as it is
  std::string text;    // as typed, for messages: "ma 1 2.5"
};

enum class LibraryChoice { Hardware, Simulated, Path };

struct Request {
  LibraryChoice library = LibraryChoice::Hardware;
  std::string library_path;  // with LibraryChoice::Path
  bool trace = false;
  bool fast = false;        // the virtual controller on its virtual clock
  bool host_float = false;  // values as a host's float, not the nearest hundredth
  std::string vcd_path;     // record the bus there, when not empty
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
// checked before anything runs, so a bad one means that nothing is sent.
ParsedArguments ParseArguments(std::span<const std::string_view> arguments);

}  // namespace orvexctl
