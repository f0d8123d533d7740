// Steady clock and pause on POSIX systems.
#include <chrono>
#include <thread>

#include "port/platform.h"

namespace orvex::port {

double SteadyClockSeconds() {
  const auto since_epoch = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration<double>(since_epoch).count();
}

void PauseMilliseconds(unsigned milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace orvex::port
