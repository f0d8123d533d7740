// Programs run as a user runs them from a shell, for the tests of the
// programs we ship: their standard output and error, and how they ended.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace orvex::testing {

namespace fs = std::filesystem;

// A folder of the test's own under the temporary folder, removed with
// everything in it when the test is done with it.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct Finished {
  int status = -1;  // the exit status, or 128 + the signal that ended it
  std::string out;
  std::string err;
};

std::string Slurp(const fs::path& file);

// What a test does to the program while it runs, given its process and the
// file its standard output goes to.
using WhileRunning = std::function<void(pid_t child, const fs::path& out)>;

// Runs `program` (found on PATH unless a path) with `arguments` in
// `environment` ("NAME=value" each), or in this process's environment when
// it is empty, until it ends.
Finished RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment = {},
                    const WhileRunning& while_running = {});

// This process's environment but the variables named `dropped`, as
// "NAME=value" each.
std::vector<std::string> EnvironmentWithout(const std::string& dropped);

}  // namespace orvex::testing
