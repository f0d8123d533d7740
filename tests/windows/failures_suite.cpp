// Hostile replies and time-outs, on the real clock, through the simulated
// driver library the DLL tries first.
#include <string>

#include "host_harness.h"
#include "setup_lines.h"
#include "suites.h"

namespace orvex::wintest {
namespace {

// A missed readiness window ends a call at once; the generous margin is for
// a loaded machine.
constexpr double kQuickly = 0.5;
// Bounds that run for about a second: the acknowledgement bound and WS's
// silence bound.
constexpr double kAboutASecondAtLeast = 0.9;
constexpr double kAboutASecondAtMost = 5.0;

// ---- Replies ------------------------------------------------------------------

struct PositionReply {
  std::string reply;
  float expected;
};

void PositionRepliesAreFilteredAndParsed(Expect& expect) {
  const PositionReply cases[] = {
      {"+12.5\r\n", 0.125F},
      {"-250\r\n", -2.5F},
      {" + 3 0 0 mm\r\n", 3.0F},
      {"no digit\r\n", kPositionError},
      {std::string(100, '7') + "\n", kPositionError},  // longer than the reply buffer
  };
  for (const PositionReply& position : cases) {
    const Controller& controller = FreshController();
    controller.QueueReply(position.reply);
    expect.Equal(TheLibrary().tp(1), position.expected, "TP(1) for \"" + position.reply + "\"");
    expect.Equal(controller.Received(), Lines{"1TP\r"}, "lines");
    expect.Equal(controller.protocol_errors(), 0, "protocol errors");
  }
}

void StatusRepliesAreReadPerAxis(Expect& expect) {
  const struct {
    signed char axis;
    int expected;
  } cases[] = {{0, 0}, {1, 0}, {2, 1}, {9, 0x0A0D'4241}};
  for (const auto& status : cases) {
    const Controller& controller = FreshController();
    controller.QueueReply(status.axis == 9 ? "AB\r\n" : "A\r\n");  // 'A': axis 1 moving
    expect.Equal(TheLibrary().mt(status.axis), status.expected,
                 "MT(" + std::to_string(status.axis) + ")");
  }
}

void RepliesCutShortOrEndlessGiveNoAnswer(Expect& expect) {
  const Library& library = TheLibrary();
  double seconds = 0.0;

  const Controller& controller = FreshController();
  controller.reply_stops_after(3);
  controller.QueueReply("+2500\r\n");
  expect.Equal(Timed([&] { return library.tp(1); }, seconds), kPositionError,
               "TP(1), reply stops after 3 bytes");
  expect.Within(seconds, 0.0, kQuickly, "TP(1), reply stops after 3 bytes");

  // A reply without a line feed is given up after a bounded number of bytes.
  FreshController().endless_reply();
  controller.QueueReply("+1");
  expect.Equal(Timed([&] { return library.tp(2); }, seconds), kPositionError,
               "TP(2), endless reply");
  expect.Within(seconds, 0.0, kQuickly, "TP(2), endless reply");

  // After its reply the controller never shows READY again: the
  // acknowledgement bound gives up on it.
  FreshController().dies_after_bytes(4);
  expect.Equal(Timed([&] { return library.ok(); }, seconds), 0, "OK(), dead after the reply");
  expect.Within(seconds, kAboutASecondAtLeast, kAboutASecondAtMost, "OK(), dead after the reply");
}

// ---- Time-outs ----------------------------------------------------------------

struct TimeOut {
  const char* call;
  double (*run)(const Library&);
  double result;
  double at_least;
  double at_most;
};

const TimeOut kTimeOuts[] = {
    {"MA(0, 2.5)", [](const Library& l) -> double { return l.ma(0, 2.5F); }, 0, 0, kQuickly},
    {"MR(1, 1.0)", [](const Library& l) -> double { return l.mr(1, 1.0F); }, 0, 0, kQuickly},
    {"SV(2, 3.0)", [](const Library& l) -> double { return l.sv(2, 3.0F); }, 0, 0, kQuickly},
    {"ST(0)", [](const Library& l) -> double { return l.st(0); }, 0, 0, kQuickly},
    {"DH(1)", [](const Library& l) -> double { return l.dh(1); }, 0, 0, kQuickly},
    {"GH(2)", [](const Library& l) -> double { return l.gh(2); }, 0, 0, kQuickly},
    {"TP(1)", [](const Library& l) -> double { return l.tp(1); }, kPositionError, 0, kQuickly},
    {"OK()", [](const Library& l) -> double { return l.ok(); }, 0, 0, kQuickly},
    {"MT(0)", [](const Library& l) -> double { return l.mt(0); }, 0, 0, kQuickly},
    {"RT(0)", [](const Library& l) -> double { return l.rt(0); }, 0, 0, kQuickly},
    {"WS(0)", [](const Library& l) -> double { return l.ws(0); }, 0, kAboutASecondAtLeast,
     kAboutASecondAtMost},
};

}  // namespace

void ExpectEveryExportTimesOut(Expect& expect) {
  for (const TimeOut& time_out : kTimeOuts) {
    double seconds = 0.0;
    expect.Equal(Timed([&] { return time_out.run(TheLibrary()); }, seconds), time_out.result,
                 time_out.call);
    expect.Within(seconds, time_out.at_least, time_out.at_most, time_out.call);
  }
}

namespace {

void HandshakeThatNeverShowsReadyTimesEveryExportOut(Expect& expect) {
  const Controller& controller = FreshController();
  controller.stuck_handshake(0x81);  // not READY: only 0x80 exactly is
  ExpectEveryExportTimesOut(expect);
  expect.Equal(controller.bytes_taken(), 0, "bytes taken");
}

void TimeOutPartWayLeavesTheEarlierBytesSent(Expect& expect) {
  const Library& library = TheLibrary();
  double seconds = 0.0;

  const Controller& controller = FreshController();
  controller.dies_after_bytes(3);
  expect.Equal(Timed([&] { return library.st(0); }, seconds), 0, "ST(0), dead after 3 bytes");
  expect.Within(seconds, 0.0, kQuickly, "ST(0), dead after 3 bytes");
  expect.Equal(controller.bytes_taken(), 3, "bytes taken of \"1ST\\r\"");
  expect.Equal(controller.Received(), Lines{}, "lines");

  FreshController().dies_after_bytes(8 + 3);
  expect.Equal(library.ma(0, 2.5F), 0, "MA(0, 2.5), dead inside the axis-2 line");
  expect.Equal(controller.Received(), Lines{"1PA 250\r"}, "lines");
  expect.Equal(controller.bytes_taken(), 11, "bytes taken");

  FreshController().dies_after_bytes(6 + 3);
  expect.Equal(Timed([&] { return library.rt(1); }, seconds), 1,
               "RT(1), dead inside the second line");
  expect.Equal(controller.Received(), FirstLines(kAxis1SetupLines, 1), "lines");
  expect.Within(seconds, 0.050, 0.050 + kQuickly, "RT(1), dead inside the second line");
}

void BriefUnreadinessIsWaitedForALongOneIsNot(Expect& expect) {
  const Library& library = TheLibrary();
  double seconds = 0.0;

  // 200 polls of the handshake register take far less than the 9 ms window.
  const Controller& controller = FreshController();
  controller.readiness_delay(1, 200);
  expect.Equal(library.st(2), 1, "ST(2), not ready for 200 polls before byte 1");
  expect.Equal(controller.Received(), Lines{"2ST\r"}, "lines");

  // Two thousand seconds of the controller's clock are 2e9 polls: no host
  // makes them in 9 ms.
  FreshController().readiness_delay(1, 2'000'000'000);
  expect.Equal(Timed([&] { return library.st(2); }, seconds), 0,
               "ST(2), not ready for 2e9 polls before byte 1");
  expect.Within(seconds, 0.0, kQuickly, "ST(2), not ready for 2e9 polls before byte 1");
  expect.Equal(controller.bytes_taken(), 1, "bytes taken");
}

void StrobeNeverAcknowledgedDoesNotHangTheHost(Expect& expect) {
  const Controller& controller = FreshController();
  controller.never_acknowledges_byte(2);
  double seconds = 0.0;
  expect.Equal(Timed([&] { return TheLibrary().dh(0); }, seconds), 0,
               "DH(0), byte 2 never acknowledged");
  expect.Within(seconds, kAboutASecondAtLeast, kAboutASecondAtMost,
                "DH(0), byte 2 never acknowledged");
  expect.Equal(controller.bytes_taken(), 2, "bytes taken");
}

const Case kReplyCases[] = {
    {"PositionRepliesAreFilteredAndParsed", PositionRepliesAreFilteredAndParsed},
    {"StatusRepliesAreReadPerAxis", StatusRepliesAreReadPerAxis},
    {"RepliesCutShortOrEndlessGiveNoAnswer", RepliesCutShortOrEndlessGiveNoAnswer},
};

const Case kFailureCases[] = {
    {"HandshakeThatNeverShowsReadyTimesEveryExportOut",
     HandshakeThatNeverShowsReadyTimesEveryExportOut},
    {"TimeOutPartWayLeavesTheEarlierBytesSent", TimeOutPartWayLeavesTheEarlierBytesSent},
    {"BriefUnreadinessIsWaitedForALongOneIsNot", BriefUnreadinessIsWaitedForALongOneIsNot},
    {"StrobeNeverAcknowledgedDoesNotHangTheHost", StrobeNeverAcknowledgedDoesNotHangTheHost},
};

}  // namespace

Suite RepliesSuite() {
  return {"replies", kReplyCases};
}

Suite FailuresSuite() {
  return {"failures", kFailureCases};
}

}  // namespace orvex::wintest
