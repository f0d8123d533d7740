// The link's clock reading.
#pragma once

#include "port/platform.h"

namespace orvex::link {

// Seconds on the platform's steady clock. Only differences between readings a
// few milliseconds apart are used, so a step of the wall clock neither ends nor
// stretches a readiness window.
inline double NowSeconds() {
  return port::SteadyClockSeconds();
}

}  // namespace orvex::link
