// The platform touch points of the virtual-controller build: every port
// access, clock reading and pause goes to the one virtual bus.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "port/platform.h"
#include "virtual_bus.h"

namespace orvex::port {

std::uint8_t ReadPortByte(const CardPorts& card, Register which) {
  return sim::TheBus().ReadPort(static_cast<std::uint16_t>(card.Address(which) & 0xFFFF));
}

void WritePortByte(const CardPorts& card, Register which, std::uint8_t value) {
  sim::TheBus().WritePort(static_cast<std::uint16_t>(card.Address(which) & 0xFFFF), value);
}

// Cards of a bus that other processes share are named by the bus and the
// base: the processes on one shared bus keep their lines apart as processes
// on one card do. A bus of this process alone has nobody to keep apart from.
bool MachineWideName(const CardPorts& card, std::span<char> name) {
  const std::string& shared = sim::TheBus().SharedName();
  if (shared.empty()) return false;
  const int written = std::snprintf(name.data(), name.size(), "sim-%s-0x%x", shared.c_str(),
                                    static_cast<unsigned>(card.Base()));
  return written > 0 && static_cast<std::size_t>(written) < name.size();
}

double SteadyClockSeconds() {
  return sim::TheBus().NowSeconds();
}

void PauseMilliseconds(unsigned milliseconds) {
  sim::TheBus().Pause(milliseconds);
}

}  // namespace orvex::port
