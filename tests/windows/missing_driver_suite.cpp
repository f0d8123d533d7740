// orvexportio.dll where DlPortIO.dll is missing: with inpout32.dll in its
// place, and with no driver library at all.
#include "host_harness.h"
#include "suites.h"

namespace orvex::wintest {
namespace {

void LoadsAndTimesOutWithoutAnyDriverLibrary(Expect& expect) {
  const bool neither = !CanBeLoaded(L"DlPortIO.dll") && !CanBeLoaded(L"inpout32.dll");
  expect.That(neither, "a driver library can be loaded here: the case cannot run");
  if (!neither) return;
  TheLibrary();
  ExpectEveryExportTimesOut(expect);
  expect.Equal(TheLibrary().ma(3, 1.0F), 3, "MA(3, 1.0)");
  expect.Equal(TheLibrary().rt(-2), -2, "RT(-2)");
}

void ReachesTheControllerThroughInpout32(Expect& expect) {
  const bool only_inpout32 = !CanBeLoaded(L"DlPortIO.dll") && CanBeLoaded(L"inpout32.dll");
  expect.That(only_inpout32, "not just inpout32.dll can be loaded here: the case cannot run");
  if (!only_inpout32) return;
  const Controller& controller = FreshController(L"inpout32.dll");
  expect.Equal(TheLibrary().ma(2, 2.5F), 1, "MA(2, 2.5)");
  expect.Equal(TheLibrary().ok(), 1, "OK()");
  expect.Equal(controller.Received(), Lines{"2PA 250\r", "1TP\r"}, "lines");
  expect.That(!IsLoaded(L"DlPortIO.dll"), "DlPortIO.dll is loaded");
}

const Case kMissingDriverCases[] = {
    {"LoadsAndTimesOutWithoutAnyDriverLibrary", LoadsAndTimesOutWithoutAnyDriverLibrary},
};

const Case kInpout32Cases[] = {
    {"ReachesTheControllerThroughInpout32", ReachesTheControllerThroughInpout32},
};

}  // namespace

Suite MissingDriverSuite() {
  return {"missing_driver", kMissingDriverCases};
}

Suite Inpout32FallbackSuite() {
  return {"inpout32_fallback", kInpout32Cases};
}

}  // namespace orvex::wintest
