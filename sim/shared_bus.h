// The virtual bus that several processes share, opted into by a name: the
// layout of its state in named shared memory, and how a process judges what
// it finds under that name.
//
// The whole bus lives in one segment: a header that says what it is, the
// bus's lock, the clock's state, and a slot for each card that may be put on
// it, each slot a card's lock and its state. Every part is plain data of
// fixed-width types (card_state.h says why), and the sizes and places
// checked below must come out the same for every build: a 32-bit and a
// 64-bit process may map one bus. A segment whose header names another
// layout (an older version, say) is never used.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>

#include "card_state.h"
#include "virtual_clock.h"

namespace orvex::sim {

// The environment variable that opts a process into a shared bus, read when
// its bus is first made.
inline constexpr const char* kSharedBusVariable = "ORVEXPORTIO_SIM_SHARED";
inline constexpr std::size_t kLongestSharedBusName = 32;
inline constexpr std::size_t kMostCardsOnABus = 16;

// A name is 1 to kLongestSharedBusName letters, digits, '-' and '_': it goes
// into names of files and kernel objects as it is.
bool IsSharedBusName(std::string_view name);
// "orvexportio-sim-<name>", the stem of every object the bus is made of.
std::string SharedObjectName(std::string_view name);

// Room for one lock that works across processes, however the platform makes
// it (shared_lock.h): a robust process-shared mutex lives in these bytes; a
// named mutex needs none of them.
struct alignas(8) SharedLockStorage {
  std::array<std::uint8_t, 64> bytes{};
};

struct SharedBusHeader {
  static constexpr std::uint64_t kMagic = 0x53554256584f524fULL;  // "ORVXBUS" and 'S'
  static constexpr std::uint32_t kVersion = 1;

  std::uint64_t magic = 0;
  std::uint32_t version = 0;
  std::uint32_t padding = 0;
  std::uint64_t size = 0;  // of the whole SharedBusState
  // When the machine started, where the segment outlives a restart (a file
  // on Windows); 0 elsewhere.
  std::uint64_t boot_stamp = 0;
};

// A card's slot: unused until a process puts a card there.
struct SharedCardSlot {
  SharedLockStorage lock;
  alignas(8) std::array<std::uint8_t, sizeof(CardState)> card{};

  CardState& Card() { return *std::launder(reinterpret_cast<CardState*>(card.data())); }
};

struct SharedBusState {
  SharedBusHeader header;
  SharedLockStorage bus_lock;  // for adding cards, and the clock's pauses
  ClockState clock;
  std::uint32_t card_count = 0;  // slots in use, the first ones; read and written as an atomic
  std::uint32_t padding = 0;
  std::array<SharedCardSlot, kMostCardsOnABus> slots;
};

static_assert(sizeof(SharedBusHeader) == 32);
static_assert(sizeof(SharedLockStorage) == 64);
static_assert(sizeof(PauseRecord) == 16);
static_assert(sizeof(ClockState) == 48 + 16 * ClockState::kPauseCapacity);
static_assert(sizeof(SharedCardSlot) == 64 + sizeof(CardState));
static_assert(offsetof(SharedBusState, bus_lock) == 32);
static_assert(offsetof(SharedBusState, clock) == 96);
static_assert(offsetof(SharedBusState, card_count) == 96 + sizeof(ClockState));
static_assert(offsetof(SharedBusState, slots) == 104 + sizeof(ClockState));
static_assert(sizeof(SharedBusState) ==
              104 + sizeof(ClockState) + kMostCardsOnABus * sizeof(SharedCardSlot));

// Whether the `size` bytes found under a bus's name are a bus of this layout.
bool IsSharedBusOfThisLayout(const void* bytes, std::uint64_t size);

// Fills fresh memory with a new bus on `clock`, no card on it yet: every
// lock ready and the header last, written when the rest is in place.
void FillNewSharedBus(void* memory, Clock clock, std::uint64_t boot_stamp);

}  // namespace orvex::sim
