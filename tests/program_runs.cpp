#include "program_runs.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <system_error>

extern char** environ;

namespace orvex::testing {

ScratchFolder::ScratchFolder() {
  std::string pattern = (fs::temp_directory_path() / "orvex-test-XXXXXX").string();
  path_ = mkdtemp(pattern.data()) != nullptr ? fs::path(pattern) : fs::path();
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  if (!path_.empty()) fs::remove_all(path_, ignored);
}

std::string Slurp(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  std::ostringstream text;
  text << stream.rdbuf();
  return text.str();
}

namespace {

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

Finished RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment,
                    const WhileRunning& while_running) {
  const ScratchFolder scratch;
  const fs::path out = scratch.path() / "out";
  const fs::path err = scratch.path() / "err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argument_texts = {program};
  argument_texts.insert(argument_texts.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environment_texts = environment;
  const std::vector<char*> argv = Pointers(argument_texts);
  const std::vector<char*> envp = Pointers(environment_texts);
  Finished finished;
  pid_t child = 0;
  if (posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(),
                   environment.empty() ? environ : envp.data()) == 0) {
    if (while_running) while_running(child, out);
    int status = 0;
    waitpid(child, &status, 0);
    finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  finished.out = Slurp(out);
  finished.err = Slurp(err);
  return finished;
}

std::vector<std::string> EnvironmentWithout(const std::string& dropped) {
  std::vector<std::string> kept;
  for (char** variable = environ; *variable != nullptr; ++variable) {
    const std::string text = *variable;
    if (!text.starts_with(dropped + "=")) kept.push_back(text);
  }
  return kept;
}

}  // namespace orvex::testing
