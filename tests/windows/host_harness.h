// A small harness for the Windows test program: named cases in suites, one
// suite run per process, and the DLLs under test loaded by name, as a host
// loads them.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <chrono>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "orvexportio.h"
#include "simulated_driver.h"

namespace orvex::wintest {

using Lines = std::vector<std::string>;

// The driver libraries of this bitness in the order the DLL must try them,
// as the build names the simulated ones.
inline constexpr const wchar_t* kFirstDriver = ORVEX_FIRST_DRIVER;
inline constexpr const wchar_t* kSecondDriver = ORVEX_SECOND_DRIVER;

// Collects what went wrong in one case.
class Expect {
 public:
  void That(bool condition, std::string_view what);

  template <typename Actual, typename Expected>
  void Equal(const Actual& actual, const Expected& expected, std::string_view what) {
    if (actual == expected) return;
    std::ostringstream message;
    message << what << ": got " << Shown(actual) << ", expected " << Shown(expected);
    That(false, message.str());
  }

  // Elapsed seconds lie in [at_least, at_most].
  void Within(double seconds, double at_least, double at_most, std::string_view what);

  bool Passed() const { return failures_.empty(); }
  const std::vector<std::string>& Failures() const { return failures_; }

 private:
  template <typename Value>
  static std::string Shown(const Value& value) {
    std::ostringstream out;
    out << value;
    return out.str();
  }
  static std::string Shown(const Lines& lines);

  std::vector<std::string> failures_;
};

struct Case {
  const char* name;
  void (*run)(Expect&);
};

struct Suite {
  const char* name;
  std::span<const Case> cases;
};

// Runs the suite named `name`; returns the process exit code.
int RunSuite(std::span<const Suite> suites, std::string_view name);

// orvexportio.dll's exports, found by name.
struct Library {
  decltype(&MA) ma;
  decltype(&MR) mr;
  decltype(&SV) sv;
  decltype(&TP) tp;
  decltype(&RT) rt;
  decltype(&ST) st;
  decltype(&MT) mt;
  decltype(&WS) ws;
  decltype(&DH) dh;
  decltype(&GH) gh;
  decltype(&OK) ok;
};

// The simulated driver library's test side, found by name.
struct Controller {
  decltype(&orvexsim_reset) reset;
  decltype(&orvexsim_line_count) line_count;
  decltype(&orvexsim_line) line;
  decltype(&orvexsim_line_repeats) line_repeats;
  decltype(&orvexsim_fault_stuck_handshake) stuck_handshake;
  decltype(&orvexsim_fault_dies_after_bytes) dies_after_bytes;
  decltype(&orvexsim_fault_readiness_delay) readiness_delay;
  decltype(&orvexsim_fault_never_acknowledges_byte) never_acknowledges_byte;
  decltype(&orvexsim_fault_reply_stops_after) reply_stops_after;
  decltype(&orvexsim_fault_endless_reply) endless_reply;
  decltype(&orvexsim_queue_reply) queue_reply;
  decltype(&orvexsim_bytes_taken) bytes_taken;
  decltype(&orvexsim_protocol_errors) protocol_errors;
  decltype(&orvexsim_set_clock) set_clock;

  // The lines received since the reset, carriage returns included.
  Lines Received() const;
  void QueueReply(std::string_view bytes) const;
};

// orvexportio.dll, loaded on first use; the program stops when it cannot be.
const Library& TheLibrary();

// The simulated driver library's controller, on its virtual clock, reset to healthy and idle. The
// library is loaded by name on the first call; later names are ignored, as
// each suite runs in a process of its own with one driver library.
const Controller& FreshController(const wchar_t* name = kFirstDriver);

bool IsLoaded(const wchar_t* module_name);
bool CanBeLoaded(const wchar_t* module_name);

// Runs `call` and returns its result and the seconds it took.
template <typename Call>
auto Timed(Call call, double& seconds) {
  const auto start = std::chrono::steady_clock::now();
  auto result = call();
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace orvex::wintest
