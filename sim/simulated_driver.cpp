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

}  // extern "C"
