// The library for the card on a machine whose ports it may not reach. Each
// case runs in a child process that gives up CAP_SYS_RAWIO before the first
// port access, so no real port is ever touched: the library must fall back to
// an empty bus and report time-outs instead of crashing the host.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/io.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "orvexportio.h"
#include "raw_io_capability.h"

using orvex::testing::DropRawIoCapability;

namespace {

bool PortsAreOutOfReach() {
  const int dev_port = open("/dev/port", O_RDWR | O_CLOEXEC);
  if (dev_port >= 0) close(dev_port);
  return ioperm(0x340, 2, 1) != 0 && dev_port < 0;
}

// Runs `checks` in a child without port access; returns the child's wait status.
int RunWithoutPortAccess(const std::function<bool()>& checks) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    if (!DropRawIoCapability() || !PortsAreOutOfReach()) _exit(3);
    _exit(checks() ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

void ExpectCleanExit(int status) {
  ASSERT_TRUE(WIFEXITED(status)) << "child killed by signal " << WTERMSIG(status);
  EXPECT_NE(WEXITSTATUS(status), 3) << "could not take port access away from the child";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Every export reports a time-out on an empty bus, well inside a second.
bool EveryExportTimesOut() {
  const auto start = std::chrono::steady_clock::now();
  const bool all_timed_out = MA(1, 2.5F) == 0 && MR(2, 1.0F) == 0 && SV(0, 3.0F) == 0 &&
                             ST(0) == 0 && DH(1) == 0 && GH(2) == 0;
  return all_timed_out && std::chrono::steady_clock::now() - start < std::chrono::seconds(1);
}

TEST(PortAccessWithoutPermission, ExportsReportTimeOutsInsteadOfCrashing) {
  ExpectCleanExit(RunWithoutPortAccess(EveryExportTimesOut));
}

TEST(PortAccessWithoutPermission, EveryThreadFallsBackOnItsOwnFirstAccess) {
  ExpectCleanExit(RunWithoutPortAccess([] {
    bool first = false;
    bool second = false;
    std::thread one([&] { first = EveryExportTimesOut(); });
    one.join();
    std::thread two([&] { second = EveryExportTimesOut(); });
    two.join();
    return first && second && EveryExportTimesOut();
  }));
}

TEST(PortAccessWithoutPermission, OutOfRangeAxisCodesNeedNoPort) {
  ExpectCleanExit(RunWithoutPortAccess([] { return MA(3, 1.0F) == 3 && ST(-1) == -1; }));
}

}  // namespace
