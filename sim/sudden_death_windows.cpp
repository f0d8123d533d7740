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

// A process has no stop of its own on Windows: the calling thread is
// suspended, which the test side resumes (ResumeThread) from outside.
void StopThisProcess() {
  SuspendThread(GetCurrentThread());
}

}  // namespace orvex::sim
