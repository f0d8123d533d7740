// The virtual I/O bus: virtual controller cards at the bases the host adds,
// an empty bus elsewhere (reads give 0xFF, writes go nowhere), and one clock
// for all of them.
//
// A bus is the process's own, or one that several processes share by a name
// (shared_bus.h): then its clock and every card's state live in named shared
// memory (shared_memory.h), every process drives the same cards, and a card
// one process adds is on the bus for all. The observers and the death hook
// stay with each process.
//
// Every member function is safe to call from any thread. A card, once on the
// bus, stays there for the life of the process (of the shared bus, when it is
// one), so a host thread still inside a call at exit has its card.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "shared_bus.h"
#include "state_lock.h"
#include "virtual_clock.h"
#include "virtual_controller.h"

namespace orvex::sim {

inline constexpr std::uint8_t kEmptyBus = 0xFF;

class VirtualBus {
 public:
  static constexpr std::size_t kMostCards = kMostCardsOnABus;

  // A bus of the process's own.
  explicit VirtualBus(Clock clock);
  // The process's view of the shared bus whose state is `shared`; nullptr
  // when a lock of it cannot be had.
  static std::unique_ptr<VirtualBus> OnShared(SharedBusState& shared, std::string_view name);
  VirtualBus(const VirtualBus&) = delete;
  VirtualBus& operator=(const VirtualBus&) = delete;

  // Host side.
  std::uint8_t ReadPort(std::uint16_t address);
  void WritePort(std::uint16_t address, std::uint8_t value);
  double NowSeconds() { return static_cast<double>(clock_.ThreadNow()) / 1e6; }
  void Pause(unsigned milliseconds) { clock_.Pause(milliseconds); }

  // Test side.
  VirtualClock& ClockOfBus() { return clock_; }
  // The card at `base`; nullptr when there is none.
  VirtualController* CardAt(std::uint16_t base) const;
  // The card at `base`, put on the bus if none is there. nullptr when no card
  // may sit there (a standard PC device, outside 0x100-0x3FF), when its
  // registers would overlap another card's, or when the bus is full.
  VirtualController* AddCard(std::uint16_t base);
  // The clock back at 0 and every card as after its reset.
  void Reset();
  // The name of the shared bus this is; empty for a bus of the process's own.
  const std::string& SharedName() const { return shared_name_; }

 private:
  struct Shared {
    SharedBusState& state;
    std::string name;
    std::unique_ptr<StateLock> bus_lock;
  };
  explicit VirtualBus(Shared shared);

  std::uint32_t CardCount() const;
  VirtualController* CardDecoding(std::uint16_t address) const;
  VirtualController* PutCardInSlot(std::size_t slot, std::uint16_t base);

  SharedBusState* const shared_ = nullptr;
  const std::string shared_name_;
  const std::unique_ptr<StateLock> adding_;  // the bus's lock: in the shared bus, when it is one
  VirtualClock clock_;
  // On a bus of the process's own; a shared bus keeps its count in its state.
  std::uint32_t own_card_count_ = 0;
  std::uint32_t& card_count_;
  // The first CardCount() are on the bus. On a shared bus every slot has its
  // controller from the start, so a card another process adds needs nothing
  // made when this process first reaches it.
  std::array<std::atomic<VirtualController*>, kMostCards> cards_{};
};

// The bus behind the virtual-controller build's ports. Made on first use on
// the clock ClockFromEnvironment names, with one card: at the base of the
// library's eleven functions (0x340, or ORVEXPORTIO_BASE when it names a base
// a card may sit at). When kSharedBusVariable names a shared bus, that one
// (with that card added), or, when it cannot be had, a bus of the process's
// own, after a line on standard error saying why.
VirtualBus& TheBus();

// That card, on the bus TheBus() gives now.
VirtualController& TheController();

// Moves this process onto the shared bus named `name`, made when there is
// none yet, with the eleven functions' card added. False, and the process
// keeps the bus it has, when the name is not one (IsSharedBusName) or the
// bus can be neither made nor mapped, or holds another layout; `why` says
// which. Threads still inside calls on the former bus finish there.
bool ShareTheBus(std::string_view name, std::string& why);

}  // namespace orvex::sim
