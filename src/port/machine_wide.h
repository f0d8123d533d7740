// One card's record shared by every process on the machine that drives it:
// a block of shared memory, created on first use, with a lock that keeps the
// processes' exchanges apart, and the identity of the process that holds it.
// The layers above put the exchange in flight into the block's payload.
//
// The lock is robust: a holder that dies (killed, crashed) does not keep it,
// and the next holder is told that it takes it from the dead. A holder that
// is stopped (SIGSTOP, a debugger) keeps it; a waiter gives up after a bound.
//
// Where the record cannot be made or opened (no shared memory, a sandbox, a
// record of a stranger's), the card is not shared: processes are not kept
// apart, and SharingProblem says why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "port/platform.h"

namespace orvex::port {

// The bytes of the record the layers above lay out as they need.
inline constexpr std::size_t SHARED_PAYLOAD_BYTES = 256;

enum class MachineHold : std::uint8_t {
  Taken,             // the card is this thread's until ReleaseCard
  TakenFromTheDead,  // the same, from a holder that died holding it
  HeldElsewhere,     // another process held it past the wait: not taken
  NotShared,         // no record: not taken, and nothing to take
};

// Takes the card machine-wide for the calling thread, waiting at most
// `wait_seconds` for another process to let it go. A thread that finds the
// card still held by the process that made the last wait run out does not
// wait again for one more bound: a stopped holder costs one wait, not one per
// queued call.
MachineHold HoldCard(const CardPorts& card, double wait_seconds);

// Lets the card go; only after HoldCard took it.
void ReleaseCard(const CardPorts& card);

// The record's payload, as long as the calling thread holds the card; empty
// when the card is not shared.
std::span<unsigned char> SharedPayload(const CardPorts& card);

// In the child of a fork, for each card: what the parent noted of itself
// (its process id) is not the child's.
void ForgetProcessAfterFork(const CardPorts& card);

// Who holds the card, as far as the record tells.
struct CardHolder {
  bool held = false;          // some process holds it now
  std::int32_t process = 0;   // its process id
  char program[16] = {};      // its program's name, NUL-terminated
  double held_seconds = 0.0;  // for how long, on the steady clock
};

CardHolder HolderOf(const CardPorts& card);

// The name of the record of the card at `base` in the builds for the card,
// as their MachineWideName gives it.
bool CardRecordName(unsigned base, std::span<char> name);

// Why the card is not shared (a sentence), or nullptr while it is or has not
// been tried yet.
const char* SharingProblem(const CardPorts& card);

}  // namespace orvex::port
