// The clock, nap and yield of the driver's card logic in user space, on a
// fake clock that moves only when read: each reading costs a fixed time, and
// a register access happens at the time of the reading before it. Naps and
// yields are counted; a nap costs what the test says.
#pragma once

#include <cstdint>
#include <functional>

namespace orvex::driver_test {

struct FakeClock {
  std::uint64_t now = 1'000'000'000;  // ns; not 0, so no wait starts at the epoch
  std::uint64_t reading_cost = 1'000;
  std::uint64_t readings = 0;
  std::uint64_t naps = 0;
  std::uint64_t long_naps = 0;  // naps of more than 100 us asked for
  unsigned last_nap_longest_us = 0;
  std::uint64_t yields = 0;
  // How long each nap takes, by its number from 0; none by default.
  std::function<std::uint64_t(std::uint64_t)> nap_length;
  // Readings made since the last nap, and the most there ever were.
  std::uint64_t readings_since_nap = 0;
  std::uint64_t most_readings_between_naps = 0;
};

// The one clock of the test program, fresh for each test.
FakeClock& Clock();
void ResetClock();

}  // namespace orvex::driver_test
