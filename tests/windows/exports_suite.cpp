// Every export of orvexportio.dll through the simulated driver library that
// the DLL tries first.
#include <string>

#include "host_harness.h"
#include "setup_lines.h"
#include "suites.h"

namespace orvex::wintest {
namespace {

void DriverIsLoadedOnFirstUse(Expect& expect) {
  const Library& library = TheLibrary();
  expect.That(!IsLoaded(kFirstDriver), "the driver library loaded with orvexportio.dll");
  expect.Equal(library.ma(3, 1.0F), 3, "MA(3, 1.0), which needs no port");
  expect.That(!IsLoaded(kFirstDriver), "the driver library loaded without a port access");
  const Controller& controller = FreshController();
  expect.Equal(library.st(1), 1, "ST(1)");
  expect.Equal(controller.Received(), Lines{"1ST\r"}, "lines");
}

struct ExportCall {
  const char* call;
  double (*run)(const Library&);
  double result;
  Lines lines;
};

const ExportCall kExportCalls[] = {
    {"MA(0, 2.5)",
     [](const Library& l) -> double { return l.ma(0, 2.5F); },
     1,
     {"1PA 250\r", "2PA 250\r"}},
    {"MA(1, -0.75)", [](const Library& l) -> double { return l.ma(1, -0.75F); }, 1, {"1PA -75\r"}},
    {"MR(2, 12.0)", [](const Library& l) -> double { return l.mr(2, 12.0F); }, 1, {"2PR 1200\r"}},
    {"SV(0, -1.0)",
     [](const Library& l) -> double { return l.sv(0, -1.0F); },
     1,
     {"1VA4294967196\r", "2VA4294967196\r"}},
    {"ST(0)", [](const Library& l) -> double { return l.st(0); }, 1, {"1ST\r", "2ST\r"}},
    {"DH(2)", [](const Library& l) -> double { return l.dh(2); }, 1, {"2DH\r"}},
    {"GH(1)", [](const Library& l) -> double { return l.gh(1); }, 1, {"1PA 0\r"}},
    {"TP(2)", [](const Library& l) -> double { return l.tp(2); }, 0.0, {"2TP\r"}},
    {"OK()", [](const Library& l) -> double { return l.ok(); }, 1, {"1TP\r"}},
    {"MT(0)", [](const Library& l) -> double { return l.mt(0); }, 1, {"TS\r"}},
    {"WS(2)", [](const Library& l) -> double { return l.ws(2); }, 1, {"TS\r"}},
    {"MA(3, 1.0)", [](const Library& l) -> double { return l.ma(3, 1.0F); }, 3, {}},
    {"ST(-1)", [](const Library& l) -> double { return l.st(-1); }, -1, {}},
    {"TP(0)", [](const Library& l) -> double { return l.tp(0); }, kPositionError, {}},
    {"WS(5)", [](const Library& l) -> double { return l.ws(5); }, 5, {}},
};

void EveryExportSendsItsLines(Expect& expect) {
  for (const ExportCall& call : kExportCalls) {
    const Controller& controller = FreshController();
    expect.Equal(call.run(TheLibrary()), call.result, call.call);
    expect.Equal(controller.Received(), call.lines, std::string(call.call) + " lines");
    expect.Equal(controller.protocol_errors(), 0, std::string(call.call) + " protocol errors");
  }
}

struct SetupCase {
  signed char axis;
  int result;
  Lines lines;
  double paused;
};

void SetupSequenceSendsItsLinesWithItsPauses(Expect& expect) {
  const SetupCase cases[] = {
      {1, 1, kAxis1SetupLines, 0.150},
      {2, 1, kAxis2SetupLines, 0.100},
      {0, 1, kBothAxesSetupLines, 0.300},
      {7, 7, {}, 0.0},
  };
  for (const SetupCase& setup : cases) {
    const Controller& controller = FreshController();
    const std::string call = "RT(" + std::to_string(setup.axis) + ")";
    double seconds = 0.0;
    expect.Equal(Timed([&] { return TheLibrary().rt(setup.axis); }, seconds), setup.result, call);
    expect.Equal(controller.Received(), setup.lines, call + " lines");
    expect.Within(seconds, setup.paused, setup.paused + 2.0, call);
  }
}

// A short move: WS asks about a thousand times before the axis stops.
void MoveWaitAndReadBack(Expect& expect) {
  const Controller& controller = FreshController();
  const Library& library = TheLibrary();
  expect.Equal(library.sv(1, 10.0F), 1, "SV(1, 10.0)");
  expect.Equal(library.ma(1, 0.25F), 1, "MA(1, 0.25)");
  expect.Equal(library.mt(1), 0, "MT(1) while axis 1 moves");
  expect.Equal(library.mt(2), 1, "MT(2) while axis 1 moves");
  expect.Equal(library.ws(1), 1, "WS(1)");
  expect.Equal(library.mt(0), 1, "MT(0) after WS");
  expect.Equal(library.tp(1), 0.25F, "TP(1) after WS");
  const Lines received = controller.Received();
  expect.That(received.size() >= 6, "lines received");
  if (received.size() >= 6) {
    expect.Equal(Lines(received.begin(), received.begin() + 4),
                 Lines{"1VA1000\r", "1PA 25\r", "TS\r", "TS\r"}, "first lines");
    expect.Equal(received.back(), std::string("1TP\r"), "last line");
  }
  expect.Equal(controller.protocol_errors(), 0, "protocol errors");
}

const Case kCases[] = {
    {"DriverIsLoadedOnFirstUse", DriverIsLoadedOnFirstUse},
    {"EveryExportSendsItsLines", EveryExportSendsItsLines},
    {"SetupSequenceSendsItsLinesWithItsPauses", SetupSequenceSendsItsLinesWithItsPauses},
    {"MoveWaitAndReadBack", MoveWaitAndReadBack},
};

}  // namespace

Suite ExportsSuite() {
  return {"exports", kCases};
}

}  // namespace orvex::wintest
