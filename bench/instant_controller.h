// The benchmarks' instantly responding controller, seen from the benchmark
// side. It answers every handshake step on the first look: READY before each
// command byte, PENDING right after each strobe, a reply byte standing right
// after each request. It counts every port access and every byte it moved, so
// a benchmark can hold the link's accesses against the protocol's floor.
// There are two such controllers, one at 0x340 and one at 0x300, each on
// cache lines of its own; the counts below are those of the one at 0x340.
#pragma once

#include <chrono>
#include <cstdint>
#include <string_view>

namespace orvex::bench {

struct InstantControllerCounts {
  std::uint64_t reads = 0;
  std::uint64_t writes = 0;
  std::uint64_t command_bytes = 0;  // command bytes taken
  std::uint64_t command_lines = 0;  // command lines ended by a carriage return
  std::uint64_t reply_bytes = 0;    // reply bytes handed over
  std::uint64_t reply_lines = 0;    // reply lines handed over up to their line feed
  std::uint64_t protocol_errors = 0;

  std::uint64_t Accesses() const { return reads + writes; }
  // The fewest accesses the handshake allows for what was moved: five per
  // byte in either direction and one look for READY after each line.
  std::uint64_t Floor() const {
    return 5 * (command_bytes + reply_bytes) + command_lines + reply_lines;
  }
};

InstantControllerCounts InstantControllerCountsNow();

// Back to idle, abandoning a line or a reply in progress, for a benchmark
// whose transfer the link gave up half-way: on a loaded host a thread held
// off the processor for longer than a window sees the window run out. The
// counts stay.
void ResetInstantController();

// The answer to the next "1TP"/"2TP" queries (line feed included), and to "TS".
// The default answers are "+250\r\n" and "0\r\n" (both axes at rest).
void SetPositionAnswer(std::string_view answer);
void SetStatusAnswer(std::string_view answer);

// Moves the controllers into memory that the processes this one forks from
// now on share with it, as they would share a card; false when no such
// memory could be had.
bool ShareInstantControllersWithChildren();

// Makes every port access cost `cost` of busy time, as an ISA card's take
// about a microsecond.
void SetInstantControllerAccessCost(std::chrono::nanoseconds cost);

}  // namespace orvex::bench
