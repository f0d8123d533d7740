// The Windows test program for the Windows 95/98 path: the suites of
// orvex_host_test, with the port instructions of orvexportio.dll performed
// by a vectored exception handler on the simulated driver's controller.
#include <cstdio>

#include "direct_path.h"
#include "host_harness.h"
#include "port_instruction_handler.h"
#include "suites.h"

int main(int argc, char** argv) {
  using namespace orvex::wintest;
  if (argc != 2) {
    std::printf("usage: orvex_direct_path_test <suite>\n");
    return 2;
  }
  if (!InstallPortInstructionHandler(kControllerLibrary)) {
    std::printf("SETUP FAILED: cannot reach the controller through orvexsim_controller.dll\n");
    return 2;
  }
  // The suites' controller is this one: the first name given is the one kept.
  FreshController(kControllerLibrary);
  const Suite suites[] = {DirectPathSuite(), ExportsSuite(), RepliesSuite(), FailuresSuite()};
  return RunSuite(suites, argv[1]);
}
