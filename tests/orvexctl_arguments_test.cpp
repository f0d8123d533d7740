// orvexctl's command line: what it accepts, and the one-line refusals that
// come before anything is sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "commands/conversion.h"
#include "library.h"
#include "orvexportio.h"

namespace orvexctl {
namespace {

// The arguments as orvexctl takes them: read, then their values chosen by
// the library's conversion (here the one linked in).
ParsedArguments Parse(std::vector<std::string_view> arguments) {
  ParsedArguments parsed = ParseArguments(arguments);
  if (!parsed.request) return parsed;
  if (auto refusal = ChooseValues({&::orvex_count_of, &::orvex_value_for_count}, *parsed.request)) {
    return {std::nullopt, *refusal};
  }
  return parsed;
}

std::vector<std::string> Split(std::string_view joined) {
  std::vector<std::string> names;
  for (std::size_t start = 0; start <= joined.size();) {
    const std::size_t comma = std::min(joined.find(',', start), joined.size());
    names.emplace_back(joined.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

// The count the library itself makes of an invocation's value.
std::int64_t LibraryCount(const Invocation& invocation) {
  return orvex::commands::WholeCount(invocation.value).value_or(-1);
}

TEST(OrvexctlArguments, ReadsOptionsAndCommandsInEitherCase) {
  const ParsedArguments parsed = Parse({"--simulate", "--trace", "MA", "1", "2.5", "tp", "2", "ok",
                                        "Mr", "0", "-0.019", "sv", "2", "+3", "rt", "0"});
  ASSERT_TRUE(parsed.request) << parsed.error;
  const Request& request = *parsed.request;
  EXPECT_EQ(request.library, LibraryChoice::Simulated);
  EXPECT_TRUE(request.trace);
  ASSERT_EQ(request.invocations.size(), 6U);
  struct Expected {
    std::string_view function;
    int axis;
    std::int64_t count;
    std::string text;
  };
  const Expected expected[] = {
      {"MA", 1, 250, "MA 1 2.5"},   {"TP", 2, 0, "tp 2"},      {"OK", 0, 0, "ok"},
      {"MR", 0, -2, "Mr 0 -0.019"}, {"SV", 2, 300, "sv 2 +3"}, {"RT", 0, 0, "rt 0"},
  };
  for (std::size_t index = 0; index < std::size(expected); ++index) {
    const Invocation& invocation = request.invocations[index];
    SCOPED_TRACE(expected[index].text);
    EXPECT_EQ(invocation.command->function, expected[index].function);
    EXPECT_EQ(invocation.axis, expected[index].axis);
    EXPECT_EQ(LibraryCount(invocation), expected[index].count);
    EXPECT_EQ(invocation.text, expected[index].text);
  }
}

TEST(OrvexctlArguments, FastClockAndWaveformFile) {
  const ParsedArguments parsed = Parse({"--simulate", "--fast", "--vcd", "bus.vcd", "ok"});
  ASSERT_TRUE(parsed.request) << parsed.error;
  EXPECT_TRUE(parsed.request->fast);
  EXPECT_EQ(parsed.request->vcd_path, "bus.vcd");
  const ParsedArguments plain = Parse({"--simulate", "ok"});
  ASSERT_TRUE(plain.request) << plain.error;
  EXPECT_FALSE(plain.request->fast);
  EXPECT_EQ(plain.request->vcd_path, "");
}

TEST(OrvexctlArguments, LibraryPathAndHelp) {
  const ParsedArguments with_path = Parse({"--library", "/opt/lib/x.so", "--trace", "st", "0"});
  ASSERT_TRUE(with_path.request) << with_path.error;
  EXPECT_EQ(with_path.request->library, LibraryChoice::Path);
  EXPECT_EQ(with_path.request->library_path, "/opt/lib/x.so");
  EXPECT_TRUE(with_path.request->trace);  // checked against the library once it is loaded

  for (const auto& arguments : std::vector<std::vector<std::string_view>>{
           {"--help"}, {"-h"}, {"--simulate", "--help", "nonsense"}}) {
    const ParsedArguments help = Parse(arguments);
    ASSERT_TRUE(help.request) << help.error;
    EXPECT_TRUE(help.request->help);
  }
}

TEST(OrvexctlArguments, RouteTakesNoCommand) {
  for (const auto& arguments : std::vector<std::vector<std::string_view>>{
           {"--route"}, {"--library", "/opt/lib/x.so", "--route"}}) {
    const ParsedArguments route = Parse(arguments);
    ASSERT_TRUE(route.request) << route.error;
    EXPECT_TRUE(route.request->route);
    EXPECT_TRUE(route.request->invocations.empty());
  }
  EXPECT_FALSE(Parse({"ok"}).request->route);
}

struct RefusalCase {
  std::vector<std::string_view> arguments;
  std::string error;
};

TEST(OrvexctlArguments, BadArgumentsAreRefusedWithOneLine) {
  const RefusalCase cases[] = {
      {{}, "no command given"},
      {{"--simulate"}, "no command given"},
      {{"--verbose", "ok"}, "unknown option '--verbose'"},
      {{"--library"}, "--library needs the PATH"},
      {{"--library", "", "ok"}, "--library needs the PATH"},
      {{"--simulate", "--library", "x", "ok"}, "give one of --simulate and --library, once"},
      {{"--simulate", "--simulate", "ok"}, "give one of --simulate and --library, once"},
      {{"--trace", "ok"}, "--trace needs the virtual-controller build"},
      {{"--fast", "ok"}, "--fast needs the virtual-controller build"},
      {{"--vcd", "bus.vcd", "ok"}, "--vcd needs the virtual-controller build"},
      {{"--route", "ok"}, "--route sends nothing: give it no command"},
      {{"--simulate", "--route"}, "not --simulate"},
      {{"--simulate", "--vcd"}, "--vcd needs a FILE"},
      {{"--simulate", "--vcd", "", "ok"}, "--vcd needs a FILE"},
      {{"move", "1", "2"}, "unknown command 'move'"},
      {{"ok", "1"}, "unknown command '1' after 'ok'"},
      {{"ma", "1", "2", "--trace"}, "options go before the first command"},
      {{"ma"}, "ma: missing AXIS"},
      {{"ma", "1"}, "ma 1: missing TARGET"},
      {{"sv", "1"}, "sv 1: missing SPEED"},
      {{"ma", "one", "2"}, "AXIS 'one' is not a whole number"},
      {{"st", "1.0"}, "AXIS '1.0' is not a whole number"},
      {{"st", ""}, "AXIS '' is not a whole number"},
      {{"st", "99999999999999999999"}, "is not a whole number"},
      {{"ma", "1", "2.5mm"}, "TARGET '2.5mm' is not a finite number"},
      {{"ma", "1", "0x10"}, "is not a finite number"},
      {{"ma", "1", "nan"}, "is not a finite number"},
      {{"mr", "1", "-inf"}, "is not a finite number"},
      {{"mr", "1", "1e39"}, "is not a finite number"},
      {{"mr", "1", "+-5"}, "is not a finite number"},
      {{"mr", "1", "ok"}, "DISTANCE 'ok' is not a finite number"},
      {{"ma", "1", "1e8"}, "signed 32-bit count"},
      {{"ma", "1", "21474838"}, "signed 32-bit count"},
      {{"mr", "2", "-21474838"}, "signed 32-bit count"},
      {{"sv", "1", "-1"}, "SPEED -1 must not be negative"},
      {{"sv", "1", "-0.02"}, "must not be negative"},
      {{"sv", "1", "42949680"}, "32-bit count"},
      {{"sv", "1", "42949672.96"}, "32-bit count (at most 42949672.95)"},
      {{"sv", "1", "-0.001"}, "SPEED -0.001 must not be negative"},
      {{"sv", "1", "0.0049"}, "SPEED 0.0049 is 0 counts to the nearest hundredth"},
      {{"ma", "1", "21474836.48"}, "signed 32-bit count (-21474836.48 to 21474836.47)"},
      {{"mr", "1", "-21474836.49"}, "signed 32-bit count"},
      // Fits, but floats lie 2 apart there: no float gives 2147483647 counts.
      {{"ma", "1", "21474836.47"},
       "TARGET 21474836.47 is 2147483647 counts, which no single-precision value gives; the "
       "nearest that do are 21474836 and 21474838"},
      {{"--float", "ma", "1", "21474838"}, "signed 32-bit count"},
      {{"--float", "sv", "1", "-0.02"}, "must not be negative"},
  };
  for (const RefusalCase& refusal : cases) {
    const ParsedArguments parsed = Parse(refusal.arguments);
    std::string typed;
    for (std::string_view argument : refusal.arguments) typed += " " + std::string(argument);
    SCOPED_TRACE(typed);
    EXPECT_FALSE(parsed.request);
    EXPECT_NE(parsed.error.find(refusal.error), std::string::npos) << parsed.error;
    EXPECT_EQ(parsed.error.find('\n'), std::string::npos);
  }
}

TEST(OrvexctlArguments, BaseIsWrittenAsTheLibrarysSettingIs) {
  const std::pair<std::string_view, unsigned> accepted[] = {
      {"0x300", 0x300}, {"0X2a0", 0x2A0}, {"0x0340", 0x340}, {"0x3F8", 0x3F8}};
  for (const auto& [text, base] : accepted) {
    const ParsedArguments parsed = Parse({"--base", text, "ok"});
    ASSERT_TRUE(parsed.request) << text << ": " << parsed.error;
    EXPECT_EQ(parsed.request->base, base) << text;  // where a card may sit, the library judges
  }
  EXPECT_FALSE(Parse({"ok"}).request->base);
  for (const std::string_view text : {"300", "0x", "0x00340", "", "0x3g0", "-0x300"}) {
    const ParsedArguments parsed = Parse({"--base", text, "ok"});
    EXPECT_FALSE(parsed.request) << text;
    EXPECT_NE(parsed.error.find("is not a base written in hexadecimal with 0x"), std::string::npos)
        << parsed.error;
  }
  EXPECT_EQ(Parse({"--base"}).error, "--base needs a BASE, such as 0x300");
}

// The functions orvexctl looks up are those cmake/Exports.cmake lists.
TEST(OrvexctlArguments, FunctionsLookedUpAreThoseTheLibrariesExport) {
  std::vector<std::string> eleven;
  for (const CommandSpec& command : Commands()) {
    if (!command.function.empty()) eleven.emplace_back(command.function);
  }
  EXPECT_EQ(eleven, Split(ORVEX_ELEVEN_EXPORTS));
  const std::vector<std::string> library = Split(ORVEX_LIBRARY_EXPORT_TABLE);
  for (const std::string& name : CardExports::Names()) {
    EXPECT_NE(std::find(library.begin(), library.end(), name), library.end()) << name;
  }
  const std::vector<std::string> simulated = Split(ORVEX_SIM_LIBRARY_EXPORT_TABLE);
  for (const std::string& name : VirtualControllerNames()) {
    EXPECT_NE(std::find(simulated.begin(), simulated.end(), name), simulated.end()) << name;
  }
}

struct AxisCase {
  std::string_view command;
  std::vector<std::string_view> accepted;
  std::vector<std::string_view> refused;
};

TEST(OrvexctlArguments, EachCommandTakesItsOwnAxisCodes) {
  const std::vector<std::string_view> both_or_one = {"0", "1", "2"};
  const std::vector<std::string_view> never = {"-1", "3", "255", "256", "257", "-128"};
  std::vector<std::string_view> not_both = never;
  not_both.push_back("0");
  const AxisCase cases[] = {
      {"ma", both_or_one, never},   {"mr", both_or_one, never}, {"sv", both_or_one, never},
      {"st", both_or_one, never},   {"dh", both_or_one, never}, {"gh", both_or_one, never},
      {"mt", both_or_one, never},   {"ws", both_or_one, never}, {"rt", both_or_one, never},
      {"tp", {"1", "2"}, not_both},
  };
  for (const AxisCase& axes : cases) {
    const CommandSpec& command = *FindCommand(axes.command);
    const bool has_value = command.value != ValueKind::None;
    for (const std::string_view code : axes.accepted) {
      std::vector<std::string_view> arguments = {axes.command, code};
      if (has_value) arguments.push_back("1");
      const ParsedArguments parsed = Parse(arguments);
      ASSERT_TRUE(parsed.request) << axes.command << " " << code << ": " << parsed.error;
      EXPECT_EQ(std::to_string(parsed.request->invocations[0].axis), code);
    }
    for (const std::string_view code : axes.refused) {
      std::vector<std::string_view> arguments = {axes.command, code};
      if (has_value) arguments.push_back("1");
      const ParsedArguments parsed = Parse(arguments);
      EXPECT_FALSE(parsed.request) << axes.command << " " << code;
      EXPECT_NE(parsed.error.find("axis code " + std::string(code) + " is not accepted"),
                std::string::npos)
          << parsed.error;
    }
  }
}

struct CountCase {
  std::vector<std::string_view> arguments;
  std::int64_t count;  // what the library makes of the value orvexctl hands it
};

TEST(OrvexctlArguments, ValuesUpToTheCountLimitsAreTaken) {
  const CountCase limits[] = {
      {{"ma", "1", "21474836"}, 2147483600},
      {{"mr", "1", "-21474836"}, -2147483600},
      {{"sv", "1", "42949672"}, 4294967200},  // sent unsigned
      {{"sv", "1", "0"}, 0},
      {{"sv", "1", "-0"}, 0},
      {{"sv", "1", "0.005"}, 1},  // the least speed: half a count rounds up
      {{"ma", "2", "1e3"}, 100000},
      {{"ma", "1", "131071.99"}, 13107199},  // below 2^17 every hundredth has its float
  };
  for (const CountCase& limit : limits) {
    const ParsedArguments parsed = Parse(limit.arguments);
    ASSERT_TRUE(parsed.request) << parsed.error;
    EXPECT_EQ(LibraryCount(parsed.request->invocations[0]), limit.count) << limit.count;
  }
}

// The library truncates value x 100, so the float nearest 0.29 gives 28
// counts; orvexctl hands over a float that gives the nearest hundredth, and
// --float the host's own float.
TEST(OrvexctlArguments, ValuesSendTheNearestHundredthOrWithFloatTheHostsFloat) {
  const CountCase cases[] = {
      {{"ma", "1", "0.29"}, 29},
      {{"--float", "ma", "1", "0.29"}, 28},
      {{"sv", "1", "0.01"}, 1},
      {{"--float", "sv", "1", "0.01"}, 0},
      {{"mr", "1", "-0.57"}, -57},
      {{"--float", "mr", "1", "-0.57"}, -56},
      {{"ma", "1", "0.125"}, 13},
      {{"ma", "1", "-0.125"}, -13},  // halves away from 0
      {{"--float", "sv", "1", "-0.001"}, 0},
  };
  for (const CountCase& typed : cases) {
    const ParsedArguments parsed = Parse(typed.arguments);
    ASSERT_TRUE(parsed.request) << parsed.error;
    EXPECT_EQ(LibraryCount(parsed.request->invocations[0]), typed.count)
        << typed.arguments[typed.arguments.size() - 1];
  }
}

}  // namespace
}  // namespace orvexctl
