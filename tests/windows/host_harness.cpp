#include "host_harness.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

namespace orvex::wintest {
namespace {

[[noreturn]] void GiveUp(const char* what, const char* name) {
  std::printf("SETUP FAILED: %s %s\n", what, name);
  std::fflush(stdout);
  std::exit(2);
}

std::string Narrow(const wchar_t* wide) {
  std::string narrow;
  for (; *wide != L'\0'; ++wide) narrow += static_cast<char>(*wide);
  return narrow;
}

HMODULE LoadOrGiveUp(const wchar_t* name) {
  const HMODULE module = LoadLibraryW(name);
  if (module == nullptr) GiveUp("cannot load", Narrow(name).c_str());
  return module;
}

// Finds an export and gives it the type of its declaration, going through the
// generic function pointer type, which converts to any other.
class Exports {
 public:
  explicit Exports(HMODULE module) : module_(module) {}

  template <typename Function>
  void Find(Function& function, const char* name) const {
    const FARPROC found = GetProcAddress(module_, name);
    if (found == nullptr) GiveUp("missing export", name);
    function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
  }

 private:
  HMODULE module_;
};

Library LoadLibraryExports() {
  const Exports exports(LoadOrGiveUp(L"orvexportio.dll"));
  Library library{};
  exports.Find(library.ma, "MA");
  exports.Find(library.mr, "MR");
  exports.Find(library.sv, "SV");
  exports.Find(library.tp, "TP");
  exports.Find(library.rt, "RT");
  exports.Find(library.st, "ST");
  exports.Find(library.mt, "MT");
  exports.Find(library.ws, "WS");
  exports.Find(library.dh, "DH");
  exports.Find(library.gh, "GH");
  exports.Find(library.ok, "OK");
  return library;
}

Controller LoadController(const wchar_t* name) {
  const Exports exports(LoadOrGiveUp(name));
  Controller controller{};
  exports.Find(controller.reset, "orvexsim_reset");
  exports.Find(controller.line_count, "orvexsim_line_count");
  exports.Find(controller.line, "orvexsim_line");
  exports.Find(controller.line_repeats, "orvexsim_line_repeats");
  exports.Find(controller.stuck_handshake, "orvexsim_fault_stuck_handshake");
  exports.Find(controller.dies_after_bytes, "orvexsim_fault_dies_after_bytes");
  exports.Find(controller.readiness_delay, "orvexsim_fault_readiness_delay");
  exports.Find(controller.never_acknowledges_byte, "orvexsim_fault_never_acknowledges_byte");
  exports.Find(controller.reply_stops_after, "orvexsim_fault_reply_stops_after");
  exports.Find(controller.endless_reply, "orvexsim_fault_endless_reply");
  exports.Find(controller.queue_reply, "orvexsim_queue_reply");
  exports.Find(controller.bytes_taken, "orvexsim_bytes_taken");
  exports.Find(controller.protocol_errors, "orvexsim_protocol_errors");
  exports.Find(controller.set_clock, "orvexsim_set_clock");
  // Exact controller times: the counts of polls and pauses these cases set up.
  controller.set_clock(ORVEXSIM_CLOCK_VIRTUAL);
  return controller;
}

}  // namespace

void Expect::That(bool condition, std::string_view what) {
  if (!condition) failures_.emplace_back(what);
}

void Expect::Within(double seconds, double at_least, double at_most, std::string_view what) {
  if (seconds >= at_least && seconds <= at_most) return;
  std::ostringstream message;
  message << what << ": took " << seconds << " s, expected " << at_least << " to " << at_most
          << " s";
  That(false, message.str());
}

std::string Expect::Shown(const Lines& lines) {
  std::string shown = "{";
  for (const std::string& line : lines) {
    shown += shown.size() > 1 ? ", \"" : "\"";
    for (const char character : line)
      shown += character == '\r' ? std::string("\\r") : std::string(1, character);
    shown += '"';
  }
  return shown + "}";
}

Lines Controller::Received() const {
  Lines lines;
  std::array<char, 128> text{};
  // Each entry as the lines it stands for: a run of one line in a row is one.
  for (int index = 0; index < line_count(); ++index) {
    line(index, text.data(), static_cast<int>(text.size()), nullptr);
    lines.insert(lines.end(), static_cast<std::size_t>(line_repeats(index, nullptr)), text.data());
  }
  return lines;
}

void Controller::QueueReply(std::string_view bytes) const {
  queue_reply(bytes.data(), static_cast<int>(bytes.size()));
}

const Library& TheLibrary() {
  static const Library library = LoadLibraryExports();
  return library;
}

const Controller& FreshController(const wchar_t* name) {
  static const Controller controller = LoadController(name);
  controller.reset();
  return controller;
}

bool IsLoaded(const wchar_t* module_name) {
  return GetModuleHandleW(module_name) != nullptr;
}

bool CanBeLoaded(const wchar_t* module_name) {
  const HMODULE module = LoadLibraryW(module_name);
  if (module == nullptr) return false;
  FreeLibrary(module);
  return true;
}

int RunSuite(std::span<const Suite> suites, std::string_view name) {
  for (const Suite& suite : suites) {
    if (suite.name != name) continue;
    int failed = 0;
    for (const Case& one : suite.cases) {
      Expect expect;
      one.run(expect);
      std::printf("[%s] %s.%s\n", expect.Passed() ? "  OK  " : "FAILED", suite.name, one.name);
      for (const std::string& failure : expect.Failures()) std::printf("    %s\n", failure.c_str());
      std::fflush(stdout);
      if (!expect.Passed()) ++failed;
    }
    std::printf("%d of %zu cases failed\n", failed, suite.cases.size());
    return failed == 0 ? 0 : 1;
  }
  std::printf("no suite named %.*s\n", static_cast<int>(name.size()), name.data());
  return 2;
}

}  // namespace orvex::wintest
