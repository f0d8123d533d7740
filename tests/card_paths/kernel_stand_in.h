// The test side of the kernel stand-in: a library preloaded beneath the
// unmodified liborvexportio.so that does, in the process, what the kernel of
// a machine with the card does, with the virtual controller behind the ports.
//
// It grants ports through ioperm() per thread (a new thread starts with its
// creator's grant), turns the port instructions that then fault into accesses
// to the virtual controller, and offers /dev/port, whose one-byte reads and
// writes at offset = port go to the same controller. The library's own clock
// readings and pauses run on the controller's virtual clock, so its windows
// and bounds come out exactly; the test program's clock stays the real one.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvex::stand_in {

// How the library reaches the ports in this process.
enum class PortRoute : std::uint8_t {
  Instructions,  // ioperm() grants, the port instructions run
  DevPort,       // ioperm() is refused with EPERM; /dev/port is there
};

// Chooses the route. It must be chosen before the library's first port
// access in the process, since the library keeps what it found out. A whole
// program, such as orvexctl, starts on the route ORVEX_STAND_IN_ROUTE names
// ("instructions", the default, or "dev-port").
void UseRoute(PortRoute route);
PortRoute Route();

struct IopermCall {
  pid_t thread = 0;
  unsigned long from = 0;
  unsigned long count = 0;
  int turn_on = 0;
  bool granted = false;
};

struct DevPortOpen {
  pid_t thread = 0;
  int flags = 0;
};

// Port accesses as they reached the controller, by the way they came.
struct AccessCounts {
  std::uint64_t instruction_reads = 0;
  std::uint64_t instruction_writes = 0;
  std::uint64_t dev_port_reads = 0;
  std::uint64_t dev_port_writes = 0;

  std::uint64_t Instructions() const { return instruction_reads + instruction_writes; }
  std::uint64_t DevPort() const { return dev_port_reads + dev_port_writes; }
};

std::vector<IopermCall> IopermCalls();
std::vector<DevPortOpen> DevPortOpens();
AccessCounts Accesses();

// Forgets the ioperm() calls, /dev/port opens and access counts so far.
void ClearRecords();

// The calling thread's id, as the records give it.
pid_t ThisThread();

// True when the stand-in's functions come first in the process's symbol
// lookup, ahead of the C library's and the C++ library's: else `missing`
// names the first one that does not.
bool Interposes(std::string& missing);

// The file of the library the process calls MA in, as the loader found it.
std::string LibraryUnderTest();

}  // namespace orvex::stand_in
