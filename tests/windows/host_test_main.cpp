// The Windows test program: loads orvexportio.dll by name and calls its
// exports as a host does. Runs the suite named by its argument.
#include <cstdio>

#include "host_harness.h"
#include "suites.h"

int main(int argc, char** argv) {
  using namespace orvex::wintest;
  if (argc != 2) {
    std::printf("usage: orvex_host_test <suite>\n");
    return 2;
  }
  const Suite suites[] = {ExportsSuite(),           RepliesSuite(),         FailuresSuite(),
                          MissingDriverSuite(),     FallbackSuite(),        DriverOrderSuite(),
                          CallingConventionSuite(), Windows9xVersionSuite()};
  return RunSuite(suites, argv[1]);
}
