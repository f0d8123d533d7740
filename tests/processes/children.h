// Child processes for tests that put several processes on one card: each
// runs a body with a time limit (SIGALRM ends a wedged one) and tells by its
// exit status whether its expectations held.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

namespace orvex::processes {

// How a child ended.
struct Ended {
  int status = 0;  // as waitpid() gives it
  bool Passed() const;
  bool Killed() const;
  bool Stopped() const;
  bool OutOfTime() const;  // its time limit ended it: it wedged
  std::string Told() const;
};

// `body` in a child with a time limit; failed expectations make it exit 1.
pid_t StartChild(const std::function<void()>& body, unsigned seconds = 60);
// Waits for a child to end (or, with `or_stop`, to stop).
Ended Wait(pid_t child, bool or_stop = false);

}  // namespace orvex::processes
