// The platform touch points of the virtual-controller build: every port
// access, clock reading and pause goes to the one virtual bus.
#include <cstdint>
#include <span>

#include "port/platform.h"
#include "virtual_bus.h"

namespace orvex::port {

std::uint8_t ReadPortByte(const CardPorts& card, Register which) {
  return sim::TheBus().ReadPort(static_cast<std::uint16_t>(card.Address(which) & 0xFFFF));
}

void WritePortByte(const CardPorts& card, Register which, std::uint8_t value) {
  sim::TheBus().WritePort(static_cast<std::uint16_t>(card.Address(which) & 0xFFFF), value);
}

bool MachineWideName(const CardPorts& /*card*/, std::span<char> /*name*/) {
  return false;
}

double SteadyClockSeconds() {
  return sim::TheBus().NowSeconds();
}

void PauseMilliseconds(unsigned milliseconds) {
  sim::TheBus().Pause(milliseconds);
}

}  // namespace orvex::port
