// Linked into every test program that drives the virtual controller in
// process: the controller runs on its virtual clock, so times and time-outs
// come out exactly however loaded the machine is. The shipped build runs on
// the real clock unless told otherwise; this is where our tests tell it.
#include <gtest/gtest.h>

#include "virtual_bus.h"

namespace orvex::testing {
namespace {

class VirtualClockEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { sim::TheController().SetClock(sim::Clock::Virtual); }
};

[[maybe_unused]] ::testing::Environment* const kVirtualClock =
    ::testing::AddGlobalTestEnvironment(new VirtualClockEnvironment);

}  // namespace
}  // namespace orvex::testing
