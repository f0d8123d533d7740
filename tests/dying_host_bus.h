// The test side of dying_host_bus.cpp.
#pragma once

#include <cstdint>

namespace orvex::testing {

// What the link sees of a host that died: thrown out of the access.
struct HostDied {};

// The host dies at its `at_access`-th port access from now (1 is the next),
// after making it or before.
void PlanDeath(std::uint64_t at_access, bool access_made);
void CancelDeath();

}  // namespace orvex::testing
