// Tests drive the library through its exports and the link, and look at what
// the virtual controller received from the test side. They run it on its
// exact virtual clock, which every test program driving it chooses before
// its first test (virtual_clock_environment.cpp).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "virtual_bus.h"

namespace orvex::testing {

class VirtualControllerTest : public ::testing::Test {
 protected:
  void SetUp() override { controller().Reset(); }

  static sim::VirtualController& controller() { return sim::TheController(); }

  static std::vector<std::string> Received() { return controller().LineTexts(); }

  static void SetFaults(const sim::Faults& faults) { controller().SetFaults(faults); }

  static std::uint64_t PortAccesses() { return controller().Snapshot().PortAccesses(); }
};

using Lines = std::vector<std::string>;

}  // namespace orvex::testing
