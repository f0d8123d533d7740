// Each case runs in a child process of its own, with a time limit: the
// library keeps per process what it found out about the ports, a port
// instruction without a grant ends the process, and a wedge must fail one
// case, not the run.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "kernel_stand_in.h"
#include "virtual_bus.h"

namespace orvex::stand_in {

// Shown in test names and messages by its name.
void PrintTo(PortRoute route, std::ostream* out);

}  // namespace orvex::stand_in

namespace orvex::card_paths {

using stand_in::PortRoute;
using Lines = std::vector<std::string>;

struct ChildOutcome {
  int status = 0;            // as waitpid() gives it
  std::string error_output;  // what the child wrote to standard error
};

// Runs `body` in a child on `route`, with a fresh controller and no records,
// killing it after `seconds`. Failed expectations in the child show in its
// output and in its exit status.
ChildOutcome RunInChild(PortRoute route, const std::function<void()>& body, unsigned seconds = 90);

// The child ended normally with every expectation met.
void ExpectPassed(const ChildOutcome& outcome);

// The child was ended by SIGSEGV.
bool KilledBySegmentationFault(const ChildOutcome& outcome);

inline sim::VirtualController& Controller() {
  return sim::TheController();
}

inline std::uint64_t ControllerAccesses() {
  return Controller().Snapshot().PortAccesses();
}

const char* RouteName(PortRoute route);

// The access counts show every access of the controller coming by `route`.
void ExpectEveryAccessBy(PortRoute route);

// Parameterised by the route, named after it.
class CardPathTest : public ::testing::TestWithParam<PortRoute> {
 protected:
  void InChild(const std::function<void()>& body, unsigned seconds = 90) {
    ExpectPassed(RunInChild(GetParam(), body, seconds));
  }
};

std::string RouteTestName(const ::testing::TestParamInfo<PortRoute>& info);

}  // namespace orvex::card_paths
