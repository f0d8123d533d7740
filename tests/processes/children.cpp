#include "children.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace orvex::processes {

bool Ended::Passed() const {
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool Ended::Killed() const {
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

bool Ended::Stopped() const {
  return WIFSTOPPED(status);
}

bool Ended::OutOfTime() const {
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
}

std::string Ended::Told() const {
  if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  if (WIFSTOPPED(status)) return "stopped";
  return "status " + std::to_string(status);
}

pid_t StartChild(const std::function<void()>& body, unsigned seconds) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    alarm(seconds);
    body();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  return child;
}

Ended Wait(pid_t child, bool or_stop) {
  Ended ended;
  waitpid(child, &ended.status, or_stop ? WUNTRACED : 0);
  return ended;
}

}  // namespace orvex::processes
