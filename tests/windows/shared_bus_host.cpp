// Two Windows processes on one shared virtual bus through
// orvexportio-sim.dll, both alive at once. The first shares the bus, sends
// a line and starts the second (this program again), which must see that
// line and its axis, sends one of its own and makes the card silent; the
// first then sees both lines, and the fault in its own calls.
//
// Usage: shared_bus_host first NAME (the second is started as "second NAME").
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <array>
#include <cstdio>
#include <string>

#include "orvexportio_sim.h"
#include "run_again.h"

namespace {

constexpr DWORD kTimeLimit = 60'000;  // milliseconds, for a second that takes well under one

bool Check(bool passed, const char* role, const char* what) {
  std::printf("%s: [%s] %s\n", role, passed ? "  OK  " : "FAILED", what);
  return passed;
}

std::string Line(int index) {
  std::array<char, 64> text{};
  return orvexsim_line(index, text.data(), static_cast<int>(text.size()), nullptr) < 0
             ? "(none)"
             : std::string(text.data());
}

// Runs this program as the second process; its exit code, or -1.
int RunSecond(const std::string& name) {
  return orvex::wintest::RunThisProgramAgain("second " + name, kTimeLimit);
}

bool First(const std::string& name) {
  const char* role = "first";
  bool passed = Check(orvexsim_share(name.c_str()) == 1, role, "shares the bus");
  orvexsim_reset();
  passed &= Check(orvexsim_set_clock(ORVEXSIM_CLOCK_VIRTUAL) == 1, role, "virtual clock");
  passed &= Check(MA(1, 2.5F) == 1, role, "MA(1, 2.5) delivered");
  passed &= Check(RunSecond(name) == 0, role, "the second process passed");
  passed &= Check(orvexsim_line_count() == 2, role, "two lines on the card");
  passed &= Check(Line(1) == "2PA -100\r", role, "the second's line \"2PA -100\\r\"");
  passed &= Check(DH(1) == 0, role, "the second's fault: DH(1) times out");
  orvexsim_clear_faults();
  passed &= Check(DH(1) == 1, role, "DH(1) delivered once the fault is cleared");
  return passed;
}

bool Second(const std::string& name) {
  const char* role = "second";
  bool passed = Check(orvexsim_share(name.c_str()) == 1, role, "shares the bus");
  passed &= Check(Line(0) == "1PA 250\r", role, "the first's line \"1PA 250\\r\"");
  passed &= Check(orvexsim_axis_target(1) == 250.0, role, "axis 1 heads for 250");
  passed &= Check(MA(2, -1.0F) == 1, role, "MA(2, -1) delivered");
  orvexsim_fault_silent();
  return passed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const std::string role = argv[1];
  const bool passed = role == "first" ? First(argv[2]) : Second(argv[2]);
  if (passed && role == "first") std::printf("all passed\n");
  return passed ? 0 : 1;
}
