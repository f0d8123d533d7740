// A platform seam for tests of a holder that dies in the middle of an
// exchange: every access goes to the virtual bus, as in the virtual
// controller's build, until the access chosen to be the host's last; that one
// is made or not (the host died just after it, or just before), and then the
// host is gone: the access throws HostDied out of the link.
#include "dying_host_bus.h"

#include <cstdint>
#include <optional>
#include <span>

#include "port/platform.h"
#include "virtual_bus.h"

namespace orvex::testing {
namespace {

struct Death {
  std::uint64_t at_access = 0;
  bool access_made = false;
};

std::optional<Death> planned_death;
std::uint64_t accesses_since_planned = 0;

// True when the host dies at this access; `make` tells whether the access is
// still made.
bool DiesNow(bool& make) {
  make = true;
  if (!planned_death) return false;
  if (++accesses_since_planned < planned_death->at_access) return false;
  make = planned_death->access_made;
  planned_death.reset();
  return true;
}

}  // namespace

void PlanDeath(std::uint64_t at_access, bool access_made) {
  planned_death = Death{at_access, access_made};
  accesses_since_planned = 0;
}

void CancelDeath() {
  planned_death.reset();
}

}  // namespace orvex::testing

namespace orvex::port {

std::uint8_t ReadPortByte(const CardPorts& card, Register which) {
  bool make = true;
  const bool dies = testing::DiesNow(make);
  const std::uint8_t value =
      make ? sim::TheBus().ReadPort(static_cast<std::uint16_t>(card.Address(which))) : 0xFF;
  if (dies) throw testing::HostDied{};
  return value;
}

void WritePortByte(const CardPorts& card, Register which, std::uint8_t value) {
  bool make = true;
  const bool dies = testing::DiesNow(make);
  if (make) sim::TheBus().WritePort(static_cast<std::uint16_t>(card.Address(which)), value);
  if (dies) throw testing::HostDied{};
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
