// Windows processes on one card, as a 32-bit LabVIEW and a 64-bit Python
// would be: orvexportio.dll in each, the simulated driver library under the
// driver's name beside it, its virtual card shared between the processes by
// name. A process is ended with TerminateProcess (by the simulated driver,
// which counts its accesses) in the middle of a line or of a reply; the next
// process must find that line finished, whole, before its own.
//
// Usage: record_host matrix DRIVER.dll BUS  (the cells start this program
// again as "end ACCESS after|before line|query DRIVER.dll BUS" and "next
// DRIVER.dll BUS").
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host_harness.h"
#include "run_again.h"

namespace {

using orvex::wintest::Controller;
using orvex::wintest::Expect;
using orvex::wintest::Lines;

constexpr DWORD kTimeLimit = 60'000;  // milliseconds
constexpr int kEnded = 137;           // the code the simulated driver ends a process with

std::wstring Wide(const std::string& narrow) {
  return {narrow.begin(), narrow.end()};
}

// Runs this program again with `arguments`; its exit code, or -1.
int RunAgain(const std::string& arguments) {
  return orvex::wintest::RunThisProgramAgain(arguments, kTimeLimit);
}

// Onto the shared virtual card; the driver library, as orvexportio.dll will
// load it.
HMODULE JoinTheBus(const std::string& driver, const std::string& bus) {
  const HMODULE module = LoadLibraryW(Wide(driver).c_str());
  if (module == nullptr) std::exit(2);
  using Share = int (*)(const char*);
  const auto share = reinterpret_cast<Share>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "orvexsim_share")));
  if (share == nullptr || share(bus.c_str()) != 1) std::exit(2);
  return module;
}

template <typename Function>
Function Export(HMODULE module, const char* name) {
  const FARPROC found = GetProcAddress(module, name);
  if (found == nullptr) std::exit(2);
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(found));
}

// Ends the process at an access of MA(1, 2.5) or TP(2); returns only if it
// lived on.
int End(int access, bool after, bool query, const std::string& driver, const std::string& bus) {
  const HMODULE module = JoinTheBus(driver, bus);
  Export<void (*)(int, int)>(module, "orvexsim_test_end_at_access")(access, after ? 1 : 0);
  const orvex::wintest::Library& library = orvex::wintest::TheLibrary();
  if (query) {
    (void)library.tp(2);
  } else {
    (void)library.ma(1, 2.5F);
  }
  std::printf("lived on\n");
  return 1;
}

int Next(const std::string& driver, const std::string& bus) {
  (void)JoinTheBus(driver, bus);
  return orvex::wintest::TheLibrary().dh(2) == 1 ? 0 : 1;
}

struct Cell {
  int access;
  bool after;
  bool query;
  const char* line;
};

int Matrix(const std::string& driver, const std::string& bus) {
  (void)JoinTheBus(driver, bus);
  const Controller& controller = orvex::wintest::FreshController(Wide(driver).c_str());
  // Accesses of "1PA 250\r": 5 per byte and a last look; of "2TP\r" with
  // its reply "+0\r\n": 21 for the line, 5 per reply byte and a last look.
  const Cell cells[] = {
      {3, false, false, "1PA 250\r"},  // before the first byte's strobe
      {8, true, false, "1PA 250\r"},   // after the second byte's strobe
      {40, true, false, "1PA 250\r"},  // after the carriage return's release
      {28, true, true, "2TP\r"},       // after the second reply byte's strobe
  };
  Expect expect;
  for (const Cell& cell : cells) {
    controller.reset();
    controller.set_clock(ORVEXSIM_CLOCK_VIRTUAL);
    const std::string at = std::string(cell.line[1] == 'T' ? "query" : "line") + " access " +
                           std::to_string(cell.access) + (cell.after ? " after" : " before");
    const int ended =
        RunAgain("end " + std::to_string(cell.access) + (cell.after ? " after " : " before ") +
                 (cell.query ? "query " : "line ") + driver + " " + bus);
    expect.That(ended == kEnded, at + ": the process was ended");
    expect.That(RunAgain("next " + driver + " " + bus) == 0, at + ": the next process's line");
    expect.Equal(controller.Received(), Lines{cell.line, "2DH\r"}, at + ": lines");
  }
  for (const std::string& failure : expect.Failures()) std::printf("FAILED: %s\n", failure.c_str());
  if (expect.Passed()) std::printf("all passed\n");
  return expect.Passed() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.size() == 3 && arguments[0] == "matrix") return Matrix(arguments[1], arguments[2]);
  if (arguments.size() == 3 && arguments[0] == "next") return Next(arguments[1], arguments[2]);
  if (arguments.size() == 6 && arguments[0] == "end") {
    return End(std::atoi(arguments[1].c_str()), arguments[2] == "after", arguments[3] == "query",
               arguments[4], arguments[5]);
  }
  std::printf("usage: record_host matrix DRIVER.dll BUS\n");
  return 2;
}
