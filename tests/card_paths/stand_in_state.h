// What the parts of the kernel stand-in share: the route, each thread's port
// grant, and the records the tests read.
#pragma once

#include <cstdint>

#include "kernel_stand_in.h"

namespace orvex::stand_in {

// True when the calling thread holds an ioperm() grant for `port`. Safe in a
// signal handler.
bool ThreadHoldsGrant(std::uint16_t port);

enum class AccessKind : std::uint8_t {
  InstructionRead,
  InstructionWrite,
  DevPortRead,
  DevPortWrite
};

// Safe in a signal handler.
void CountAccess(AccessKind kind);

void RecordDevPortOpen(int flags);

// Looks up the next definition of a symbol the stand-in interposes; ends the
// process with a message when there is none.
void* NextDefinition(const char* name);

// Writes `text` to standard error without touching stdio or the heap.
void WriteToStandardError(const char* text);

}  // namespace orvex::stand_in
