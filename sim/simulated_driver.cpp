// The simulated port-I/O driver library: the driver's two functions onto the
// one virtual bus. The test side's functions are those of
// orvexportio_sim.h.
#include "simulated_driver.h"

#include <cstdint>

#include "virtual_bus.h"

using orvex::sim::TheBus;

namespace {

constexpr unsigned long kHighestPort = 0xFFFF;
constexpr unsigned char kEmptyBus = 0xFF;

}  // namespace

extern "C" {

// No I/O port lies above 0xFFFF: such an address reads as an empty bus.
unsigned char __stdcall DlPortReadPortUchar(unsigned long port) {
  if (port > kHighestPort) return kEmptyBus;
  return TheBus().ReadPort(static_cast<std::uint16_t>(port));
}

void __stdcall DlPortWritePortUchar(unsigned long port, unsigned char value) {
  if (port <= kHighestPort) TheBus().WritePort(static_cast<std::uint16_t>(port), value);
}

// For the tests only, as this whole library is: the calling process ends
// (TerminateProcess) at its `access`-th access to the first card from now,
// just after it (`after` not 0) or just before, as a host killed from the
// Task Manager in the middle of a line would.
void orvexsim_test_end_at_access(int access, int after) {
  using Death = orvex::sim::VirtualController::Death;
  orvex::sim::TheController().SetDeathAtAccess(
      static_cast<std::uint64_t>(access < 0 ? 0 : access),
      after != 0 ? Death::AfterAccess : Death::BeforeAccess);
}

}  // extern "C"
