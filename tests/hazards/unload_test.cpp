// A host that unloads the library while its threads are still inside calls,
// and loads it again. In a process of its own with a time limit.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "orvexportio.h"

namespace orvex::hazards {
namespace {

using namespace std::chrono_literals;

struct Exports {
  decltype(&MT) mt = nullptr;
  decltype(&ST) st = nullptr;
  decltype(&WS) ws = nullptr;
  decltype(&MR) mr = nullptr;
};

Exports FindExports(void* library) {
  return {reinterpret_cast<decltype(&MT)>(dlsym(library, "MT")),
          reinterpret_cast<decltype(&ST)>(dlsym(library, "ST")),
          reinterpret_cast<decltype(&WS)>(dlsym(library, "WS")),
          reinterpret_cast<decltype(&MR)>(dlsym(library, "MR"))};
}

// Exit status 0 when the threads survived the unloading and the library,
// loaded again, still answers.
int UnloadUnderThreads() {
  void* library = dlopen(ORVEX_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return 3;
  const Exports exports = FindExports(library);
  if (exports.mr(1, 1000.0F) != 1) return 4;
  for (int thread = 0; thread < 4; ++thread) {
    std::thread([exports, thread] {
      for (;;) {
        if (thread == 0) {
          (void)exports.ws(1);
        } else {
          (void)exports.mt(0);
          (void)exports.st(2);
        }
      }
    }).detach();
  }
  std::this_thread::sleep_for(30ms);
  if (dlclose(library) != 0) return 5;
  std::this_thread::sleep_for(100ms);  // the threads are still calling
  library = dlopen(ORVEX_SIM_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return 6;
  return FindExports(library).st(1) == 1 ? 0 : 7;
}

TEST(HostileHost, UnloadWithThreadsInside) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(UnloadUnderThreads());
  int status = -1;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      (void)waitpid(child, &status, 0);
      FAIL() << "the process hangs";
    }
    std::this_thread::sleep_for(5ms);
  }
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace orvex::hazards
