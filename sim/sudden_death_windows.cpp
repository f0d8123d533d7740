#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "sudden_death.h"

namespace orvex::sim {

namespace {
// The exit code a POSIX shell shows for a process ended by SIGKILL.
constexpr UINT kKilled = 137;
}  // namespace

void EndThisProcessAtOnce() {
  TerminateProcess(GetCurrentProcess(), kKilled);
  ExitProcess(kKilled);
}

}  // namespace orvex::sim
