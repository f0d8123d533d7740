// Everything a virtual controller card remembers, as one struct of plain
// data: the process's own (the default), or in a virtual bus that several
// processes share (shared_bus.h), where every process reads and changes it
// under the card's lock. What stays with each process (its observers, its
// recording's open file, the lock itself) lives in VirtualController.
//
// So that a 32-bit and a 64-bit process (on Windows both may map one bus)
// see the same bytes, every part is plain data of fixed-width types: no
// pointers, no size_t, no std::optional, no containers that own memory;
// flags are bytes, padding is spelled out, and the sizes and places checked
// below must come out the same for every build.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "bus_recorder.h"
#include "command_interpreter.h"
#include "fault_plan.h"
#include "handshake.h"
#include "transcript.h"

namespace orvex::sim {

// Bytes for the next query's answer in place of the controller's own.
struct QueuedReply {
  std::array<std::uint8_t, ControllerHandshake::kReplyCapacity> bytes{};
  std::uint32_t length = 0;
  std::uint8_t present = 0;
  std::array<std::uint8_t, 3> padding{};
};

struct CardState {
  explicit CardState(std::uint16_t card_base) : base(card_base) {}

  std::uint16_t base;  // of its data register; the handshake register follows
  std::array<std::uint8_t, 6> padding{};
  std::uint64_t port_reads = 0;
  std::uint64_t port_writes = 0;
  ControllerHandshake handshake;
  FaultPlan faults;
  CommandInterpreter interpreter;
  QueuedReply queued_reply;
  RecorderState recorder;
  Transcript transcript;
};

// ---- The layout every build must agree on -------------------------------------

template <typename Part>
constexpr bool kPlainData = std::is_trivially_copyable_v<Part>&&
    std::is_trivially_destructible_v<Part>&& std::is_standard_layout_v<Part>;

static_assert(kPlainData<ReceivedLine> && sizeof(ReceivedLine) == 96);
static_assert(kPlainData<ControllerHandshake> && sizeof(ControllerHandshake) == 2176);
static_assert(kPlainData<FaultPlan> && sizeof(FaultPlan) == 88);
static_assert(kPlainData<MotionAxis> && sizeof(MotionAxis) == 56);
static_assert(kPlainData<CommandInterpreter> && sizeof(CommandInterpreter) == 120);
static_assert(kPlainData<QueuedReply> && sizeof(QueuedReply) == 2056);
static_assert(kPlainData<RecorderState> && sizeof(RecorderState) == 4152);
static_assert(kPlainData<Transcript> && sizeof(Transcript) == 96 * Transcript::kCapacity + 16);
static_assert(kPlainData<CardState> && alignof(CardState) == 8);
static_assert(offsetof(CardState, port_reads) == 8);
static_assert(offsetof(CardState, handshake) == 24);
static_assert(offsetof(CardState, faults) == 2200);
static_assert(offsetof(CardState, interpreter) == 2288);
static_assert(offsetof(CardState, queued_reply) == 2408);
static_assert(offsetof(CardState, recorder) == 4464);
static_assert(offsetof(CardState, transcript) == 8616);
static_assert(sizeof(CardState) == 8616 + sizeof(Transcript));

}  // namespace orvex::sim
