#include "arguments.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>

#include "card/bases.h"
#include "commands.h"
#include "orvexportio.h"
#include "values.h"

namespace orvexctl {
namespace {

struct UsageError {
  std::string text;
};

template <typename Value>
using Checked = std::variant<Value, UsageError>;

std::string Quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

// The whole text as an integer, or nothing.
std::optional<long long> WholeNumber(std::string_view text) {
  long long number = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, number);
  if (error != std::errc{} || stop != end || text.empty()) return std::nullopt;
  return number;
}

// Why a count is beyond what the command's value may give, or nothing.
std::optional<std::string> CountOutOfRange(ValueKind kind, std::int64_t count) {
  if (kind == ValueKind::Speed) {
    constexpr std::int64_t most = std::numeric_limits<std::uint32_t>::max();
    if (count < 0) return "must not be negative";
    if (count <= most) return std::nullopt;
    return "is beyond the controller's 32-bit count (at most " + UnitsText(most) + ")";
  }
  constexpr std::int64_t least = std::numeric_limits<std::int32_t>::min();
  constexpr std::int64_t most = std::numeric_limits<std::int32_t>::max();
  if (count >= least && count <= most) return std::nullopt;
  return "is beyond the controller's signed 32-bit count (" + UnitsText(least) + " to " +
         UnitsText(most) + ")";
}

// --float: the value as a host's float, which the library truncates.
std::optional<std::string> HostFloatProblem(const CountConversion& conversion, float single,
                                            ValueKind kind) {
  long long count = 0;
  if (conversion.count_of(single, &count) != ORVEX_SUCCESS) {
    return "is beyond the controller's count";
  }
  return CountOutOfRange(kind, count);
}

// The count nearest the typed value, when the command may take it.
Checked<std::int64_t> NearestHundredth(double number, ValueKind kind) {
  if (kind == ValueKind::Speed && number < 0.0) return UsageError{"must not be negative"};
  const std::int64_t count = NearestCount(number);
  if (auto problem = CountOutOfRange(kind, count)) return UsageError{*problem};
  if (kind == ValueKind::Speed && count == 0 && number != 0.0) {
    return UsageError{
        "is 0 counts to the nearest hundredth, at which the axis does not move; "
        "the least speed is " +
        UnitsText(1)};
  }
  return count;
}

// The float that the library turns into `count`, or why there is none.
Checked<float> SingleForCount(const CountConversion& conversion, std::int64_t count) {
  float single = 0.0F;
  if (conversion.value_for_count(count, &single) == ORVEX_SUCCESS) return single;
  // `single` is the nearest float below the count; the next one is above it.
  long long below = 0;
  long long above = 0;
  conversion.count_of(single, &below);
  conversion.count_of(std::nextafter(single, std::numeric_limits<float>::infinity()), &above);
  return UsageError{"is " + std::to_string(count) +
                    " counts, which no single-precision value gives; the nearest that do are " +
                    UnitsText(below) + " and " + UnitsText(above) +
                    " (--float sends the value as a host's float)"};
}

// "ma 1: TARGET 2.5 " + problem.
std::string ValueRefusal(const Invocation& invocation, const std::string& problem) {
  const std::string head =
      invocation.text.substr(0, invocation.text.size() - invocation.value_text.size() - 1);
  return head + ": " + std::string(invocation.command->value_name) + " " + invocation.value_text +
         " " + problem;
}

class Reader {
 public:
  explicit Reader(std::span<const std::string_view> arguments) : arguments_(arguments) {}

  bool AtEnd() const { return next_ >= arguments_.size(); }
  std::string_view Peek() const { return arguments_[next_]; }
  std::string_view Take() { return arguments_[next_++]; }

 private:
  std::span<const std::string_view> arguments_;
  std::size_t next_ = 0;
};

std::optional<UsageError> ReadOption(Reader& reader, Request& request) {
  const std::string_view option = reader.Take();
  if (option == "--help" || option == "-h") {
    request.help = true;
  } else if (option == "--version") {
    request.version = true;
  } else if (option == "--route") {
    request.route = true;
  } else if (option == "--trace") {
    request.trace = true;
  } else if (option == "--fast") {
    request.fast = true;
  } else if (option == "--float") {
    request.host_float = true;
  } else if (option == "--base") {
    if (reader.AtEnd()) return UsageError{"--base needs a BASE, such as 0x300"};
    request.base_text = std::string(reader.Take());
    const orvex::card::BaseSetting read = orvex::card::ReadBaseSetting(request.base_text.c_str());
    if (read.reading != orvex::card::BaseSetting::Reading::Base) {
      return UsageError{"--base " + Quoted(request.base_text) +
                        " is not a base written in hexadecimal with 0x, such as 0x300"};
    }
    request.base = read.base;
  } else if (option == "--vcd") {
    if (reader.AtEnd() || reader.Peek().empty()) return UsageError{"--vcd needs a FILE"};
    request.vcd_path = std::string(reader.Take());
  } else if (option == "--simulate" || option == "--library") {
    if (request.library != LibraryChoice::Hardware) {
      return UsageError{"give one of --simulate and --library, once"};
    }
    if (option == "--simulate") {
      request.library = LibraryChoice::Simulated;
    } else if (reader.AtEnd() || reader.Peek().empty()) {
      return UsageError{"--library needs the PATH of a library"};
    } else {
      request.library = LibraryChoice::Path;
      request.library_path = std::string(reader.Take());
    }
  } else {
    return UsageError{"unknown option " + Quoted(option)};
  }
  return std::nullopt;
}

Checked<signed char> ReadAxis(Reader& reader, const Invocation& invocation) {
  const CommandSpec& command = *invocation.command;
  if (reader.AtEnd()) return UsageError{invocation.text + ": missing AXIS"};
  const std::string_view text = reader.Take();
  const std::optional<long long> code = WholeNumber(text);
  if (!code) {
    return UsageError{invocation.text + ": AXIS " + Quoted(text) + " is not a whole number"};
  }
  if (!AcceptsAxis(command, *code)) {
    return UsageError{invocation.text + ": axis code " + std::string(text) +
                      " is not accepted; it takes " + std::string(AcceptedAxesText(command))};
  }
  return static_cast<signed char>(*code);
}

// Reads the value into `invocation`: the count meant, or with --float the
// host's float, whose count the library tells later (ChooseValues).
std::optional<UsageError> ReadValue(Reader& reader, Invocation& invocation, bool host_float) {
  const std::string name(invocation.command->value_name);
  if (reader.AtEnd()) return UsageError{invocation.text + ": missing " + name};
  const std::string_view text = reader.Take();
  const std::optional<double> number = TypedNumber(text);
  if (!number) {
    return UsageError{invocation.text + ": " + name + " " + Quoted(text) +
                      " is not a finite number"};
  }
  invocation.value_text = std::string(text);
  if (host_float) {
    invocation.host_single = TypedSingle(text);
    if (!invocation.host_single) {
      return UsageError{invocation.text + ": " + name + " " + invocation.value_text +
                        " is beyond single precision"};
    }
    return std::nullopt;
  }
  Checked<std::int64_t> count = NearestHundredth(*number, invocation.command->value);
  if (auto* problem = std::get_if<UsageError>(&count)) {
    return UsageError{invocation.text + ": " + name + " " + invocation.value_text + " " +
                      problem->text};
  }
  invocation.count = std::get<std::int64_t>(count);
  return std::nullopt;
}

Checked<Invocation> ReadInvocation(Reader& reader, const Invocation* previous, bool host_float) {
  const std::string_view name = reader.Take();
  Invocation invocation;
  invocation.command = FindCommand(name);
  if (invocation.command == nullptr) {
    std::string text = "unknown command " + Quoted(name);
    if (name.starts_with("--")) text += " (options go before the first command)";
    if (previous != nullptr) text += " after " + Quoted(previous->text);
    return UsageError{text};
  }
  invocation.text = std::string(name);
  if (invocation.command->axes != AxisCodes::None) {
    Checked<signed char> axis = ReadAxis(reader, invocation);
    if (auto* error = std::get_if<UsageError>(&axis)) return *error;
    invocation.axis = std::get<signed char>(axis);
    invocation.text += " " + std::to_string(invocation.axis);
  }
  if (invocation.command->value != ValueKind::None) {
    if (auto error = ReadValue(reader, invocation, host_float)) return *error;
    invocation.text += " " + invocation.value_text;
  }
  return invocation;
}

}  // namespace

ParsedArguments ParseArguments(std::span<const std::string_view> arguments) {
  Reader reader(arguments);
  Request request;
  while (!reader.AtEnd() && reader.Peek().starts_with("-") && !request.help && !request.version) {
    if (auto error = ReadOption(reader, request)) return {std::nullopt, error->text};
  }
  if (request.help || request.version) return {request, {}};
  if (request.route) {
    if (!reader.AtEnd()) return {std::nullopt, "--route sends nothing: give it no command"};
    if (request.library == LibraryChoice::Simulated) {
      return {std::nullopt, "--route tells how the build for the card reaches it; not --simulate"};
    }
    return {request, {}};
  }
  while (!reader.AtEnd()) {
    const Invocation* previous =
        request.invocations.empty() ? nullptr : &request.invocations.back();
    Checked<Invocation> invocation = ReadInvocation(reader, previous, request.host_float);
    if (auto* error = std::get_if<UsageError>(&invocation)) return {std::nullopt, error->text};
    request.invocations.push_back(std::move(std::get<Invocation>(invocation)));
  }
  if (request.invocations.empty()) return {std::nullopt, "no command given"};
  if (request.library == LibraryChoice::Hardware) {
    if (request.trace)
      return {std::nullopt, "--trace needs the virtual-controller build (--simulate)"};
    if (request.fast)
      return {std::nullopt, "--fast needs the virtual-controller build (--simulate)"};
    if (!request.vcd_path.empty()) {
      return {std::nullopt, "--vcd needs the virtual-controller build (--simulate)"};
    }
  }
  return {request, {}};
}

std::optional<std::string> ChooseValues(const CountConversion& conversion, Request& request) {
  for (Invocation& invocation : request.invocations) {
    if (invocation.command->value == ValueKind::None) continue;
    if (invocation.host_single) {
      if (auto problem =
              HostFloatProblem(conversion, *invocation.host_single, invocation.command->value)) {
        return ValueRefusal(invocation, *problem);
      }
      invocation.value = *invocation.host_single;
      continue;
    }
    Checked<float> single = SingleForCount(conversion, invocation.count);
    if (auto* problem = std::get_if<UsageError>(&single)) {
      return ValueRefusal(invocation, problem->text);
    }
    invocation.value = std::get<float>(single);
  }
  return std::nullopt;
}

}  // namespace orvexctl
