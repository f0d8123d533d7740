// orvexportio.dll in a process whose version reading has bit 31 set, as
// Windows 95/98/ME report it. Run only for the 64-bit DLL, under a Wine
// setting that makes a 64-bit program see such a version: no 64-bit Windows
// is of that family, and the port instructions would fault in the host, so
// the ports must still go through the driver library. (The 32-bit DLL takes
// the instructions there, which is right on those systems.)
#include "host_harness.h"
#include "suites.h"

namespace orvex::wintest {
namespace {

constexpr DWORD kNotNtFamily = 0x80000000;

void GoesThroughTheDriverWhateverTheVersionSays(Expect& expect) {
  const bool reads_as_9x = (GetVersion() & kNotNtFamily) != 0;
  expect.That(reads_as_9x, "the version reading has bit 31 clear: the case cannot run");
  if (!reads_as_9x) return;
  const Controller& controller = FreshController();
  expect.Equal(TheLibrary().st(1), 1, "ST(1)");
  expect.Equal(TheLibrary().tp(2), 0.0F, "TP(2)");
  expect.Equal(controller.Received(), Lines{"1ST\r", "2TP\r"}, "lines");
}

const Case kCases[] = {
    {"GoesThroughTheDriverWhateverTheVersionSays", GoesThroughTheDriverWhateverTheVersionSays},
};

}  // namespace

Suite Windows9xVersionSuite() {
  return {"windows9x_version", kCases};
}

}  // namespace orvex::wintest
