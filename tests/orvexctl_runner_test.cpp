// orvexctl's commands against the virtual controller, in process: what each
// prints, what went on the wire, and how a failure stops the run.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "exit_status.h"
#include "library.h"
#include "orvexportio.h"
#include "orvexportio_sim.h"
#include "runner.h"
#include "setup_lines.h"
#include "trace.h"
#include "virtual_controller_fixture.h"

namespace orvex::testing {
namespace {

using orvexctl::Invocation;
using orvexctl::Outcome;

// The library's functions linked into this program, found by their names as
// orvexctl finds them in a build it loads.
orvexctl::LibraryExports LinkedExports() {
  std::vector<std::string> missing;
  return orvexctl::LibraryExports::Find(
      [](const char* name) {
        return reinterpret_cast<orvexctl::Symbol>(dlsym(RTLD_DEFAULT, name));
      },
      missing);
}

const orvexctl::LibraryExports kLinked = LinkedExports();

std::vector<Invocation> Invocations(std::vector<std::string_view> arguments) {
  orvexctl::ParsedArguments parsed = orvexctl::ParseArguments(arguments);
  EXPECT_TRUE(parsed.request) << parsed.error;
  if (!parsed.request) return {};
  const auto refusal =
      orvexctl::ChooseValues({&::orvex_count_of, &::orvex_value_for_count}, *parsed.request);
  EXPECT_FALSE(refusal) << *refusal;
  return parsed.request->invocations;
}

Outcome RunOne(std::vector<std::string_view> arguments) {
  const std::vector<Invocation> invocations = Invocations(arguments);
  EXPECT_EQ(invocations.size(), 1U);
  return orvexctl::RunInvocation(kLinked, invocations.at(0));
}

class OrvexctlRunnerTest : public VirtualControllerTest {};

struct HealthyCase {
  std::vector<std::string_view> arguments;
  std::string result;
  Lines wire;
};

TEST_F(OrvexctlRunnerTest, EachCommandPrintsItsResultAndSendsItsLines) {
  const HealthyCase cases[] = {
      {{"ma", "1", "2.5"}, "delivered", {"1PA 250\r"}},
      {{"ma", "2", "0.29"}, "delivered", {"2PA 29\r"}},             // the hundredth typed
      {{"--float", "ma", "2", "0.29"}, "delivered", {"2PA 28\r"}},  // the host's float
      {{"mr", "0", "-0.019"}, "delivered", {"1PR -2\r", "2PR -2\r"}},
      {{"sv", "2", "25"}, "delivered", {"2VA2500\r"}},
      {{"sv", "1", "0.01"}, "delivered", {"1VA1\r"}},
      {{"st", "0"}, "delivered", {"1ST\r", "2ST\r"}},
      {{"dh", "2"}, "delivered", {"2DH\r"}},
      {{"gh", "1"}, "delivered", {"1PA 0\r"}},
      {{"tp", "2"}, "0", {"2TP\r"}},
      {{"ok"}, "answered", {"1TP\r"}},
      {{"mt", "0"}, "done", {"TS\r"}},
      {{"ws", "1"}, "done", {"TS\r"}},
      {{"rt", "2"}, "delivered", kAxis2SetupLines},
  };
  for (const HealthyCase& healthy : cases) {
    controller().Reset();
    const Outcome outcome = RunOne(healthy.arguments);
    SCOPED_TRACE(healthy.result);
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.result, healthy.result);
    EXPECT_EQ(Received(), healthy.wire);
  }
}

TEST_F(OrvexctlRunnerTest, PositionIsPrintedInCallerUnits) {
  const std::pair<std::string, std::string> replies[] = {
      {"+12.5\r\n", "0.13"},           {"-75\r\n", "-0.75"}, {"28\r\n", "0.28"},
      {"123456789\r\n", "1234567.88"}, {"-0\r\n", "0"},      {"2147483600\n", "21474836"},
  };
  for (const auto& [reply, printed] : replies) {
    controller().QueueReply(reply);
    const Outcome outcome = RunOne({"tp", "1"});
    EXPECT_TRUE(outcome.succeeded) << reply;
    EXPECT_EQ(outcome.result, printed) << reply;
  }
}

TEST_F(OrvexctlRunnerTest, MotionStatusTellsMovingFromSilent) {
  ASSERT_EQ(MA(1, 100.0F), 1);
  const Outcome moving = RunOne({"mt", "1"});
  EXPECT_TRUE(moving.succeeded);
  EXPECT_EQ(moving.result, "moving");
  EXPECT_EQ(RunOne({"mt", "2"}).result, "done");  // only axis 1 moves
  EXPECT_EQ(Received(), (Lines{"1PA 10000\r", "TS\r", "1TP\r", "TS\r"}));

  controller().Reset();
  SetFaults({.reply_stops_after = 0});  // lines arrive, replies never come
  const Outcome silent = RunOne({"mt", "0"});
  EXPECT_FALSE(silent.succeeded);
  EXPECT_EQ(silent.result, "no answer");
  EXPECT_NE(silent.failure.find("status query"), std::string::npos);
  EXPECT_EQ(Received(), (Lines{"TS\r", "1TP\r"}));
}

struct FailureCase {
  std::vector<std::string_view> arguments;
  std::string result;
  std::string failure;
};

TEST_F(OrvexctlRunnerTest, FailuresSayWhatWentWrong) {
  const FailureCase cases[] = {
      {{"ma", "1", "2.5"}, "time-out", "not delivered"},
      {{"sv", "0", "1"}, "time-out", "not delivered"},
      {{"gh", "2"}, "time-out", "not delivered"},
      {{"tp", "1"}, "no position", "position query"},
      {{"ok"}, "no answer", "no controller answered"},
      {{"mt", "2"}, "no answer", "status query"},
      {{"ws", "0"}, "no answer", "stopped answering the status query for a second"},
      {{"rt", "1"}, "time-out", "first set-up line"},
  };
  for (const FailureCase& failure : cases) {
    controller().Reset();
    SetFaults({.stuck_handshake = 0xFF});
    const Outcome outcome = RunOne(failure.arguments);
    SCOPED_TRACE(failure.arguments.front());
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.result, failure.result);
    EXPECT_NE(outcome.failure.find(failure.failure), std::string::npos) << outcome.failure;
  }
}

TEST_F(OrvexctlRunnerTest, SetupCountsAsDeliveredOnceItsFirstLineWent) {
  SetFaults({.dies_after_bytes = 8});  // "1FI11\r" and two bytes of the next line
  const Outcome outcome = RunOne({"rt", "1"});
  EXPECT_TRUE(outcome.succeeded);
  EXPECT_EQ(Received(), FirstLines(kAxis1SetupLines, 1));
}

TEST_F(OrvexctlRunnerTest, PositionWithoutANumberIsAFailureNotTheErrorValue) {
  controller().QueueReply("no digits\r\n");
  const Outcome outcome = RunOne({"tp", "2"});
  EXPECT_FALSE(outcome.succeeded);
  EXPECT_EQ(outcome.result, "no position");
  EXPECT_EQ(outcome.result.find("1e"), std::string::npos);
}

class OrvexctlSessionTest : public VirtualControllerTest {
 protected:
  int Run(std::vector<std::string_view> arguments, orvexctl::TracePrinter* trace = nullptr) {
    const std::vector<Invocation> invocations = Invocations(arguments);
    const orvexctl::Session session{kLinked,
                                    [this] {
                                      ++causes_asked_;
                                      return std::string("the cable is out");
                                    },
                                    out_, err_, trace};
    return orvexctl::RunInvocations(session, invocations);
  }

  std::ostringstream out_;
  std::ostringstream err_;
  int causes_asked_ = 0;
};

TEST_F(OrvexctlSessionTest, RunsEveryCommandInOrder) {
  EXPECT_EQ(Run({"dh", "0", "ma", "2", "-0.75", "ws", "2", "tp", "2"}), orvexctl::kAllDone);
  EXPECT_EQ(out_.str(), "delivered\ndelivered\ndone\n-0.75\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_EQ(causes_asked_, 0);
}

TEST_F(OrvexctlSessionTest, StopsAtTheFirstFailureAndNamesItsCause) {
  controller().QueueReply("no digits\r\n");
  EXPECT_EQ(Run({"dh", "1", "tp", "1", "dh", "2"}), orvexctl::kCommandFailed);
  EXPECT_EQ(out_.str(), "delivered\nno position\n");
  EXPECT_EQ(err_.str(),
            "orvexctl: tp 1 failed: the controller did not answer the position query with a "
            "number in time\norvexctl: likely cause: the cable is out\n");
  EXPECT_EQ(causes_asked_, 1);
  EXPECT_EQ(Received(), (Lines{"1DH\r", "1TP\r"}));  // dh 2 was not sent
}

TEST_F(OrvexctlSessionTest, TraceShowsEachCommandWithTheLinesItSent) {
  orvexctl::TracePrinter trace(out_);
  controller().SetLineObserver([&trace](const sim::ReceivedLine& line) {
    trace.Receive(line.Text(), static_cast<double>(line.completed_at) / 1e6);
  });
  ASSERT_EQ(Run({"st", "0", "ok"}, &trace), orvexctl::kAllDone);
  controller().SetLineObserver(nullptr);
  const std::vector<sim::ReceivedLine> lines = controller().Lines();
  ASSERT_EQ(lines.size(), 3U);
  char times[3][32];
  for (std::size_t index = 0; index < 3; ++index) {
    std::snprintf(times[index], sizeof times[index], "%11.6f",
                  static_cast<double>(lines[index].completed_at) / 1e6);
  }
  EXPECT_EQ(out_.str(), std::string("# st 0\n") + "  [" + times[0] + " s] 1ST\\r\n" + "  [" +
                            times[1] + " s] 2ST\\r\n" + "delivered\n# ok\n" + "  [" + times[2] +
                            " s] 1TP\\r\n" + "answered\n");
}

// Ctrl-C while WS waits, seen from inside the wait.
int InterruptedWait(signed char) {
  raise(SIGINT);
  return 1;
}

TEST(OrvexctlInterruptTest, CtrlCDuringWsSaysTheAxisKeepsMovingAndHowToStopIt) {
  std::vector<std::string> missing;
  const orvexctl::LibraryExports exports = orvexctl::LibraryExports::Find(
      [](const char* name) {
        if (std::string_view(name) == "WS") {
          return reinterpret_cast<orvexctl::Symbol>(&InterruptedWait);
        }
        return reinterpret_cast<orvexctl::Symbol>(dlsym(RTLD_DEFAULT, name));
      },
      missing);
  std::ostringstream out;
  std::ostringstream err;
  const orvexctl::Session session{exports, [] { return std::string(); },     out, err,
                                  nullptr, "orvexctl --library /opt/card.so"};
  EXPECT_EXIT(orvexctl::RunInvocations(session, Invocations({"ws", "2"})),
              ::testing::KilledBySignal(SIGINT),
              "^orvexctl: ws 2 interrupted: axis 2 keeps moving to its target; stop it with: "
              "orvexctl --library /opt/card.so st 2\n$");
}

TEST(OrvexctlTrace, RunsOfOneLineAreCountedOnOneRow) {
  std::ostringstream out;
  orvexctl::TracePrinter trace(out);
  trace.Receive("1PA 5\r", 0.000010);
  for (int poll = 0; poll < 4; ++poll) trace.Receive("TS\r", 0.001 * (poll + 1));
  trace.Receive("1TP\r", 0.5);
  trace.Receive("1TP\r", 0.6);
  trace.Finish();
  trace.Receive("TS\r", 0.7);
  trace.Finish();
  trace.Finish();
  EXPECT_EQ(out.str(),
            "  [   0.000010 s] 1PA 5\\r\n"
            "  [   0.001000 s] TS\\r\n"
            "  [   0.004000 s] TS\\r  (the last of 4 in a row)\n"
            "  [   0.500000 s] 1TP\\r\n"
            "  [   0.600000 s] 1TP\\r\n"
            "  [   0.700000 s] TS\\r\n");
}

TEST(OrvexctlTrace, UnprintableBytesAreEscaped) {
  EXPECT_EQ(orvexctl::EscapedLine(std::string("1PA 5\r\n\\\x01\x7F\xFF", 11)),
            "1PA 5\\r\\n\\\\\\x01\\x7F\\xFF");
}

}  // namespace
}  // namespace orvex::testing
