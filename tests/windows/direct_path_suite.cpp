// orvexportio.dll on Windows 95/98: the processor's port instructions, and no
// driver library at all.
#include <string>

#include "direct_path.h"
#include "host_harness.h"
#include "port_instruction_handler.h"
#include "setup_lines.h"
#include "suites.h"

namespace orvex::wintest {
namespace {

constexpr DWORD kNotNtFamily = 0x80000000;

void RunsAsWindows98(Expect& expect) {
  expect.That((GetVersion() & kNotNtFamily) != 0, "GetVersion() shows an NT-family system");
}

bool NoDriverLibraryIsLoaded() {
  return !IsLoaded(L"DlPortIO.dll") && !IsLoaded(L"inpout32.dll");
}

void NeedsNoDriverLibrary(Expect& expect) {
  expect.That(!CanBeLoaded(L"DlPortIO.dll") && !CanBeLoaded(L"inpout32.dll"),
              "a driver library can be loaded here: the case cannot run");
  const Controller& controller = FreshController();
  const Library& library = TheLibrary();
  ClearPortInstructions();
  expect.Equal(library.rt(1), 1, "RT(1)");
  expect.Equal(library.ma(0, 2.5F), 1, "MA(0, 2.5)");
  expect.Equal(library.ok(), 1, "OK()");
  expect.Equal(library.st(0), 1, "ST(0)");
  expect.Equal(library.mt(0), 1, "MT(0) after ST(0)");
  expect.Equal(
      controller.Received(),
      Followed(kAxis1SetupLines, {"1PA 250\r", "2PA 250\r", "1TP\r", "1ST\r", "2ST\r", "TS\r"}),
      "lines");
  expect.That(PortInstructions().Total() > 0, "no port instruction reached the controller");
  expect.That(NoDriverLibraryIsLoaded(), "a driver library was loaded");
}

void OneLineTakesFortyOnePortInstructions(Expect& expect) {
  const Controller& controller = FreshController();
  ClearPortInstructions();
  expect.Equal(TheLibrary().ma(1, 2.5F), 1, "MA(1, 2.5)");
  expect.Equal(controller.Received(), Lines{"1PA 250\r"}, "lines");
  // "1PA 250\r": for each of its 8 bytes a look for READY, the byte, the
  // strobe, a look for the acknowledgement and the release; then a last
  // look for READY.
  const PortInstructionCounts counts = PortInstructions();
  expect.Equal(counts.Total(), 41L, "port instructions");
  expect.Equal(counts.writes, 24L, "out instructions");
  expect.Equal(controller.protocol_errors(), 0, "protocol errors");
}

void TimeOutsComeOnThisPathToo(Expect& expect) {
  const Controller& controller = FreshController();
  controller.stuck_handshake(0xFF);
  ExpectEveryExportTimesOut(expect);
  expect.Equal(controller.bytes_taken(), 0, "bytes taken");
  expect.That(NoDriverLibraryIsLoaded(), "a driver library was loaded");
}

const Case kCases[] = {
    {"RunsAsWindows98", RunsAsWindows98},
    {"NeedsNoDriverLibrary", NeedsNoDriverLibrary},
    {"OneLineTakesFortyOnePortInstructions", OneLineTakesFortyOnePortInstructions},
    {"TimeOutsComeOnThisPathToo", TimeOutsComeOnThisPathToo},
};

}  // namespace

Suite DirectPathSuite() {
  return {"direct_path", kCases};
}

}  // namespace orvex::wintest
