// Steady clock and pause on Windows.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "port/platform.h"

namespace orvex::port {

// The performance counter, in seconds. Whole seconds and the remainder are
// converted apart, so the reading keeps its sub-microsecond steps however long
// the machine has been up.
double SteadyClockSeconds() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  const LONGLONG whole_seconds = counter.QuadPart / frequency.QuadPart;
  const LONGLONG remainder = counter.QuadPart % frequency.QuadPart;
  return static_cast<double>(whole_seconds) +
         static_cast<double>(remainder) / static_cast<double>(frequency.QuadPart);
}

// Sleep may wake up to one scheduler tick early, so the pause sleeps again
// until the steady clock shows the whole length has passed.
void PauseMilliseconds(unsigned milliseconds) {
  const double end = SteadyClockSeconds() + milliseconds / 1000.0;
  Sleep(milliseconds);
  for (double now = SteadyClockSeconds(); now < end; now = SteadyClockSeconds()) {
    Sleep(static_cast<DWORD>((end - now) * 1000.0) + 1);
  }
}

}  // namespace orvex::port
