// The orvexctl program itself, run as a user runs it: loading the built
// libraries by path, its output, its exit status.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "library_location.h"
#include "orvexportio.h"
#include "port_diagnosis.h"
#include "program_runs.h"
#include "setup_lines.h"
#include "shared_memory.h"
#include "trace.h"

extern char** environ;

namespace orvexctl {
namespace {

namespace fs = std::filesystem;
using orvex::testing::Finished;
using orvex::testing::RunProgram;
using orvex::testing::ScratchFolder;
using orvex::testing::Slurp;
using orvex::testing::WhileRunning;

Finished Orvexctl(const std::vector<std::string>& arguments,
                  const WhileRunning& while_running = {}) {
  return RunProgram(ORVEXCTL_PROGRAM, arguments, {}, while_running);
}

// The commands orvexctl announced with --trace, each with the lines the
// controller received and the result printed.
struct TracedCommand {
  std::string command;
  std::vector<std::string> wire;  // as printed, escapes and run notes included
  std::vector<double> times;
  std::string result;
};

std::vector<TracedCommand> ParseTrace(const std::string& out) {
  static const std::regex wire_line(R"(  \[ *([0-9.]+) s\] (.*))");
  std::vector<TracedCommand> commands;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::smatch match;
    if (line.starts_with("# ")) {
      commands.push_back({line.substr(2), {}, {}, {}});
    } else if (!commands.empty() && std::regex_match(line, match, wire_line)) {
      commands.back().times.push_back(std::stod(match[1]));
      commands.back().wire.push_back(match[2]);
    } else if (!commands.empty()) {
      commands.back().result = line;
    }
  }
  return commands;
}

// A shared library that is not ours: the maths library this test runs with
// (whose functions no sanitizer intercepts).
std::string UnrelatedLibrary() {
  Dl_info info{};
  const auto cosine = static_cast<double (*)(double)>(&::cos);
  return dladdr(reinterpret_cast<void*>(cosine), &info) != 0 ? info.dli_fname : "";
}

bool PortsOutOfReach() {
  const orvex::diagnosis::LinuxPortAccess access = orvex::diagnosis::ProbeLinuxPortAccess();
  return access.ioperm_error != 0 && access.dev_port_error != 0;
}

using Wire = std::vector<std::string>;

TEST(OrvexctlProgram, CommissioningSessionPutsExactlyTheseLinesOnTheWire) {
  // On the virtual clock (--fast): the times below are the controller's, whatever the load.
  const Finished run =
      Orvexctl({"--simulate", "--fast", "--trace", "rt", "0",   "ok", "dh", "0",     "sv",
                "0",          "25",     "ma",      "1",  "2.5", "ma", "2",  "-0.75", "ws",
                "0",          "mt",     "0",       "tp", "1",   "tp", "2"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<TracedCommand> commands = ParseTrace(run.out);
  ASSERT_EQ(commands.size(), 10U) << run.out;
  Wire setup;  // as the trace prints them
  for (const std::string& line : orvex::kBothAxesSetupLines) setup.push_back(EscapedLine(line));
  struct Expected {
    std::string command;
    Wire wire;
    std::string result;
  };
  const Expected expected[] = {
      {"rt 0", setup, "delivered"},
      {"ok", {R"(1TP\r)"}, "answered"},
      {"dh 0", {R"(1DH\r)", R"(2DH\r)"}, "delivered"},
      {"sv 0 25", {R"(1VA2500\r)", R"(2VA2500\r)"}, "delivered"},
      {"ma 1 2.5", {R"(1PA 250\r)"}, "delivered"},
      {"ma 2 -0.75", {R"(2PA -75\r)"}, "delivered"},
      {"ws 0", {}, "done"},  // its polls are checked below
      {"mt 0", {R"(TS\r)"}, "done"},
      {"tp 1", {R"(1TP\r)"}, "2.5"},
      {"tp 2", {R"(2TP\r)"}, "-0.75"},
  };
  for (std::size_t index = 0; index < std::size(expected); ++index) {
    SCOPED_TRACE(expected[index].command);
    EXPECT_EQ(commands[index].command, expected[index].command);
    EXPECT_EQ(commands[index].result, expected[index].result);
    if (expected[index].command != "ws 0") {
      EXPECT_EQ(commands[index].wire, expected[index].wire);
    }
  }
  // The wait polled many times: its first poll, then the last with the count.
  const TracedCommand& wait = commands[6];
  ASSERT_EQ(wait.wire.size(), 2U);
  EXPECT_EQ(wait.wire[0], R"(TS\r)");
  EXPECT_TRUE(std::regex_match(wait.wire[1], std::regex(R"(TS\\r  \(the last of \d+ in a row\))")))
      << wait.wire[1];
  EXPECT_GT(wait.times[1] - wait.times[0], 0.1);  // the moves take that long
  // The set-up's pauses show in the virtual times: none before FI11's
  // neighbour VA1000;AC50000 on axis 1, 50 ms before each later line.
  const std::vector<double>& times = commands[0].times;
  EXPECT_LT(times[1] - times[0], 0.001);
  for (std::size_t line = 2; line < times.size(); ++line) {
    EXPECT_GE(times[line] - times[line - 1], 0.050) << setup[line];
  }
}

TEST(OrvexctlProgram, BadArgumentsExitTwoBeforeAnythingIsSent) {
  const std::vector<std::vector<std::string>> cases = {
      {"--simulate", "--trace", "dh", "0", "tp", "0"},
      {"--simulate", "--trace", "dh", "0", "fly", "1"},
      {"--simulate", "--trace", "dh", "0", "ma", "1"},
      {"--simulate", "--trace", "dh", "0", "ma", "1", "far"},
      {"--simulate", "--trace", "dh", "0", "st", "257"},
      {"--simulate", "--trace", "dh", "0", "ma", "1", "21474836.48"},
      {"--trace", "dh", "0"},
      {},
  };
  for (const std::vector<std::string>& arguments : cases) {
    const Finished run = Orvexctl(arguments);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(run.out, "");  // no "# dh 0", no line on the wire
    EXPECT_TRUE(run.err.starts_with("orvexctl: ")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

// A second card, by its base: orvexctl puts a virtual card there, and the
// trace, which follows that card alone, shows every line reaching it.
TEST(OrvexctlProgram, BaseDrivesTheCardThere) {
  const Finished run =
      Orvexctl({"--simulate", "--fast", "--trace", "--base", "0x300", "ma", "1", "2.5", "tp", "2"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<TracedCommand> traced = ParseTrace(run.out);
  ASSERT_EQ(traced.size(), 2U) << run.out;
  EXPECT_EQ(traced[0].wire, Wire{R"(1PA 250\r)"});
  EXPECT_EQ(traced[1].wire, Wire{R"(2TP\r)"});
  EXPECT_EQ(traced[1].result, "0");
}

// Sets an environment variable for the life of a test.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() { unsetenv(name_); }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
};

TEST(OrvexctlProgram, RefusedBasesExitTwoSayingWhatTheyWouldHit) {
  struct Case {
    std::vector<std::string> arguments;
    std::string base_setting;  // ORVEXPORTIO_BASE, when not empty
    std::string said;
  };
  const Case cases[] = {
      {{"--simulate", "--base", "0x3F8", "ok"},
       "",
       "--base 0x3F8 is refused: the card's registers would overlap the first serial port (COM1)"},
      {{"--simulate", "--base", "0x341", "ok"}, "", "no virtual card may sit there"},
      {{"--simulate", "ok"},
       "0x3F8",
       "ORVEXPORTIO_BASE=0x3F8 puts the card's registers on the first serial port (COM1)"},
  };
  for (const Case& refused : cases) {
    std::optional<ScopedVariable> setting;
    if (!refused.base_setting.empty()) setting.emplace("ORVEXPORTIO_BASE", refused.base_setting);
    const Finished run = Orvexctl(refused.arguments);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(refused.said), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

// A bus of one process keeps no record of who holds a card; a shared one does.
TEST(OrvexctlProgram, HolderNamesNobodyOrWhyProcessesAreNotKeptApart) {
  const Finished alone = Orvexctl({"--simulate", "holder"});
  EXPECT_EQ(alone.status, 1);
  EXPECT_EQ(alone.out, "not kept apart\n");
  EXPECT_NE(alone.err.find("likely cause: the virtual bus belongs to this process alone"),
            std::string::npos)
      << alone.err;

  const std::string bus = "orvexctl-holder-" + std::to_string(getpid());
  Finished shared;
  {
    const ScopedVariable sharing("ORVEXPORTIO_SIM_SHARED", bus);
    shared = Orvexctl({"--simulate", "--base", "0x300", "holder"});
  }
  (void)orvex::sim::RemoveSharedBus(bus);
  EXPECT_EQ(shared.status, 0) << shared.err;
  EXPECT_EQ(shared.out, "not held\n");
}

// Ctrl-C as the terminal delivers it, once the trace shows that ws has begun
// (orvexctl arms its notice before it announces the command).
TEST(OrvexctlProgram, CtrlCDuringWsEndsItWithANotice) {
  const auto interrupt_once_waiting = [](pid_t child, const fs::path& out) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Slurp(out).find("# ws 1\n") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(child, SIGINT);
  };
  // 100 units at 0.5 a second: the move lasts far longer than the test.
  const Finished run =
      Orvexctl({"--simulate", "--trace", "sv", "1", "0.5", "ma", "1", "100", "ws", "1"},
               interrupt_once_waiting);
  EXPECT_EQ(run.status, 128 + SIGINT) << run.err;
  EXPECT_NE(run.out.find("# ws 1\n"), std::string::npos) << run.out;
  EXPECT_EQ(run.err,
            "orvexctl: ws 1 interrupted: the virtual controller ends with orvexctl, and its axes "
            "with it\n");
}

TEST(OrvexctlProgram, HelpListsTheCommands) {
  const Finished run = Orvexctl({"--help"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, HelpText());
  EXPECT_EQ(run.err, "");
}

TEST(OrvexctlProgram, VersionIsTheLibraryHeaders) {
  const Finished run = Orvexctl({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string("orvexctl ") + ORVEX_VERSION + "\n");
  EXPECT_EQ(run.err, "");
}

TEST(OrvexctlProgram, CardBuildWithoutPortsFailsAndNamesTheCause) {
  if (!PortsOutOfReach()) GTEST_SKIP() << "this machine reaches the ports; the card is not ours";
  const Finished run = Orvexctl({"ok", "dh", "0"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "no answer\n");
  EXPECT_EQ(run.err,
            "orvexctl: ok failed: no controller answered the axis-1 position query\n"
            "orvexctl: likely cause: " +
                orvex::diagnosis::ExplainSilentController() + "\n" +
                "orvexctl: route: " + orvex::diagnosis::ExplainControllerRoute() + "\n");
}

TEST(OrvexctlProgram, RouteIsToldWithoutLoadingTheLibrary) {
  const Finished run = Orvexctl({"--library", "/nonexistent/liborvexportio.so.1", "--route"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "route: " + orvex::diagnosis::ExplainControllerRoute() + "\n");
  EXPECT_EQ(run.err, "");
}

TEST(OrvexctlProgram, LibraryGivenByPathIsLoadedExactly) {
  const Finished simulated = Orvexctl({"--library", ORVEX_SIM_LIBRARY, "tp", "1", "mt", "0"});
  EXPECT_EQ(simulated.status, 0) << simulated.err;
  EXPECT_EQ(simulated.out, "0\ndone\n");

  const Finished missing = Orvexctl({"--library", "/nonexistent/liborvexportio.so.1", "ok"});
  EXPECT_EQ(missing.status, 3);
  EXPECT_TRUE(missing.err.starts_with("orvexctl: cannot load /nonexistent/liborvexportio.so.1: "))
      << missing.err;

  const Finished not_ours = Orvexctl({"--library", UnrelatedLibrary(), "ok"});
  EXPECT_EQ(not_ours.status, 3);
  EXPECT_NE(not_ours.err.find("lacks MA, MR, SV, ST, DH, GH, TP, OK, MT, WS, RT"),
            std::string::npos)
      << not_ours.err;

  const Finished card_traced = Orvexctl({"--library", ORVEX_CARD_LIBRARY, "--trace", "ok"});
  EXPECT_EQ(card_traced.status, 2);
  EXPECT_EQ(card_traced.out, "");
  EXPECT_NE(card_traced.err.find("--trace needs the virtual-controller build"), std::string::npos);
}

// orvexctl copied into a folder of its own, with the library where the test puts it.
TEST(OrvexctlProgram, FindsTheLibraryBesideItselfOrInTheLibraryFolder) {
  const ScratchFolder root;
  const fs::path bin = root.path() / "bin";
  const fs::path lib = root.path() / "lib";
  fs::create_directories(bin);
  fs::create_directories(lib);
  const fs::path program = bin / "orvexctl";
  fs::copy_file(ORVEXCTL_PROGRAM, program);
  const std::string name(SimulatedLibraryName());

  const Finished nowhere = RunProgram(program, {"--simulate", "ok"});
  EXPECT_EQ(nowhere.status, 3);
  EXPECT_NE(nowhere.err.find("cannot find " + name), std::string::npos) << nowhere.err;
  EXPECT_NE(nowhere.err.find((bin / name).string()), std::string::npos) << nowhere.err;
  EXPECT_NE(nowhere.err.find((lib / name).string()), std::string::npos) << nowhere.err;

  fs::copy_file(ORVEX_SIM_LIBRARY, lib / name);
  const Finished installed = RunProgram(program, {"--simulate", "ok"});
  EXPECT_EQ(installed.status, 0) << installed.err;
  EXPECT_EQ(installed.out, "answered\n");

  // Beside the program comes first: a file there that is no library is taken, and refused.
  std::ofstream(bin / name) << "not a library";
  const Finished beside = RunProgram(program, {"--simulate", "ok"});
  EXPECT_EQ(beside.status, 3);
  EXPECT_NE(beside.err.find("cannot load " + (bin / name).string()), std::string::npos)
      << beside.err;
}

}  // namespace
}  // namespace orvexctl
