// orvexportio.dll with its driver libraries in various states: with no
// driver library at all, with only the second of its list, and with both,
// where it must take the first.
#include "host_harness.h"
#include "suites.h"

namespace orvex::wintest {
namespace {

void LoadsAndTimesOutWithoutAnyDriverLibrary(Expect& expect) {
  const bool neither = !CanBeLoaded(kFirstDriver) && !CanBeLoaded(kSecondDriver);
  expect.That(neither, "a driver library can be loaded here: the case cannot run");
  if (!neither) return;
  TheLibrary();
  ExpectEveryExportTimesOut(expect);
  expect.Equal(TheLibrary().ma(3, 1.0F), 3, "MA(3, 1.0)");
  expect.Equal(TheLibrary().rt(-2), -2, "RT(-2)");
}

void ReachesTheControllerThroughTheSecondDriver(Expect& expect) {
  const bool only_second = !CanBeLoaded(kFirstDriver) && CanBeLoaded(kSecondDriver);
  expect.That(only_second,
              "not just the second driver library can be loaded here: the case "
              "cannot run");
  if (!only_second) return;
  const Controller& controller = FreshController(kSecondDriver);
  expect.Equal(TheLibrary().ma(2, 2.5F), 1, "MA(2, 2.5)");
  expect.Equal(TheLibrary().ok(), 1, "OK()");
  expect.Equal(controller.Received(), Lines{"2PA 250\r", "1TP\r"}, "lines");
  expect.That(!IsLoaded(kFirstDriver), "the first driver library is loaded");
}

// Each simulated driver library has a controller of its own: the lines show
// which one the DLL talks to.
void TakesTheFirstDriverWhenBothAreThere(Expect& expect) {
  const bool both = CanBeLoaded(kFirstDriver) && CanBeLoaded(kSecondDriver);
  expect.That(both, "not both driver libraries can be loaded here: the case cannot run");
  if (!both) return;
  const Controller& controller = FreshController(kFirstDriver);
  expect.Equal(TheLibrary().st(0), 1, "ST(0)");
  expect.Equal(controller.Received(), Lines{"1ST\r", "2ST\r"}, "lines");
  expect.That(!IsLoaded(kSecondDriver), "the second driver library is loaded");
}

const Case kMissingDriverCases[] = {
    {"LoadsAndTimesOutWithoutAnyDriverLibrary", LoadsAndTimesOutWithoutAnyDriverLibrary},
};

const Case kFallbackCases[] = {
    {"ReachesTheControllerThroughTheSecondDriver", ReachesTheControllerThroughTheSecondDriver},
};

const Case kDriverOrderCases[] = {
    {"TakesTheFirstDriverWhenBothAreThere", TakesTheFirstDriverWhenBothAreThere},
};

}  // namespace

Suite MissingDriverSuite() {
  return {"missing_driver", kMissingDriverCases};
}

Suite FallbackSuite() {
  return {"fallback", kFallbackCases};
}

Suite DriverOrderSuite() {
  return {"driver_order", kDriverOrderCases};
}

}  // namespace orvex::wintest
