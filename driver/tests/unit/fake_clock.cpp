#include "fake_clock.h"

#include <algorithm>

extern "C" {
#include "orvex_shim.h"
}

namespace orvex::driver_test {

namespace {
FakeClock clock;
}

FakeClock& Clock() {
  return clock;
}

void ResetClock() {
  clock = FakeClock{};
}

}  // namespace orvex::driver_test

using orvex::driver_test::Clock;

extern "C" u64 orvex_clock_ns(void) {
  auto& clock = Clock();
  clock.now += clock.reading_cost;
  ++clock.readings;
  clock.most_readings_between_naps =
      std::max(clock.most_readings_between_naps, ++clock.readings_since_nap);
  return clock.now;
}

extern "C" void orvex_nap(unsigned shortest_us, unsigned longest_us) {
  auto& clock = Clock();
  if (shortest_us > 100) ++clock.long_naps;
  clock.last_nap_longest_us = longest_us;
  if (clock.nap_length) clock.now += clock.nap_length(clock.naps);
  ++clock.naps;
  clock.readings_since_nap = 0;
}

extern "C" void orvex_yield(void) {
  ++Clock().yields;
}
