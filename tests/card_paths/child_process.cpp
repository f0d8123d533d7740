#include "child_process.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace orvex::card_paths {
namespace {

std::string RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string real(resolved);
  std::free(resolved);
  return real;
}

// The stand-in must stand where the kernel stands, and the library under
// test must be the one the run names; else no case means anything.
void CheckTheHarness() {
  std::string missing;
  if (!stand_in::Interposes(missing)) {
    std::printf("the kernel stand-in does not come first for %s: preload it\n", missing.c_str());
    std::fflush(stdout);
    _exit(4);
  }
  const char* expected = std::getenv("ORVEX_EXPECTED_LIBRARY");
  const std::string found = stand_in::LibraryUnderTest();
  if (expected != nullptr && RealPath(found) != RealPath(expected)) {
    std::printf("the library under test is %s, not %s\n", found.c_str(), expected);
    std::fflush(stdout);
    _exit(5);
  }
}

std::string ReadWhole(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char chunk[512];
  for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
    text.append(chunk, got);
  return text;
}

}  // namespace

ChildOutcome RunInChild(PortRoute route, const std::function<void()>& body, unsigned seconds) {
  std::FILE* error_file = std::tmpfile();
  ChildOutcome outcome;
  if (error_file == nullptr) {
    ADD_FAILURE() << "no temporary file for the child's error output";
    return outcome;
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    dup2(fileno(error_file), STDERR_FILENO);
    // Cases that end the child as the kernel would leave no core dump behind.
    const rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    alarm(seconds);
    CheckTheHarness();
    stand_in::UseRoute(route);
    stand_in::ClearRecords();
    Controller().Reset();
    body();
    std::fflush(nullptr);
    _exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  waitpid(child, &outcome.status, 0);
  outcome.error_output = ReadWhole(error_file);
  std::fclose(error_file);
  return outcome;
}

void ExpectPassed(const ChildOutcome& outcome) {
  const int status = outcome.status;
  if (WIFSIGNALED(status)) {
    ADD_FAILURE() << "child ended by signal " << WTERMSIG(status)
                  << (WTERMSIG(status) == SIGALRM ? " (time limit)" : "") << "\n"
                  << outcome.error_output;
    return;
  }
  EXPECT_EQ(WEXITSTATUS(status), 0) << "child failed\n" << outcome.error_output;
}

bool KilledBySegmentationFault(const ChildOutcome& outcome) {
  return WIFSIGNALED(outcome.status) && WTERMSIG(outcome.status) == SIGSEGV;
}

const char* RouteName(PortRoute route) {
  return route == PortRoute::Instructions ? "Instructions" : "DevPort";
}

std::string RouteTestName(const ::testing::TestParamInfo<PortRoute>& info) {
  return RouteName(info.param);
}

void ExpectEveryAccessBy(PortRoute route) {
  const stand_in::AccessCounts counts = stand_in::Accesses();
  const std::uint64_t total = ControllerAccesses();
  if (route == PortRoute::Instructions) {
    EXPECT_EQ(counts.Instructions(), total) << "accesses by instruction";
    EXPECT_EQ(counts.DevPort(), 0U) << "accesses through /dev/port";
  } else {
    EXPECT_EQ(counts.DevPort(), total) << "accesses through /dev/port";
    EXPECT_EQ(counts.Instructions(), 0U) << "accesses by instruction";
  }
  EXPECT_EQ(counts.instruction_reads + counts.dev_port_reads, Controller().Snapshot().port_reads);
}

}  // namespace orvex::card_paths

void orvex::stand_in::PrintTo(PortRoute route, std::ostream* out) {
  *out << card_paths::RouteName(route);
}
