// The link's clock reading and its pause.
#pragma once

#include "port/platform.h"

namespace orvex::link {

// Seconds on the platform's steady clock. Only differences between readings a
// few milliseconds apart are used, so a step of the wall clock neither ends nor
// stretches a readiness window.
inline double NowSeconds() {
  return port::SteadyClockSeconds();
}

// Blocks the calling thread for the given number of milliseconds, between
// lines, while it holds no registers.
inline void PauseMilliseconds(unsigned milliseconds) {
  port::PauseMilliseconds(milliseconds);
}

}  // namespace orvex::link
