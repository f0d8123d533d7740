// The virtual I/O bus: virtual controller cards at the bases the host adds,
// an empty bus elsewhere (reads give 0xFF, writes go nowhere), and one clock
// for all of them.
//
// Every member function is safe to call from any thread. A card, once on the
// bus, stays there for the life of the process, so a host thread still
// inside a call at exit has its card.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "virtual_clock.h"
#include "virtual_controller.h"

namespace orvex::sim {

inline constexpr std::uint8_t kEmptyBus = 0xFF;

class VirtualBus {
 public:
  static constexpr std::size_t kMostCards = 16;

  explicit VirtualBus(Clock clock);
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

 private:
  VirtualController* CardDecoding(std::uint16_t address) const;

  VirtualClock clock_;
  std::mutex adding_;
  std::array<std::atomic<VirtualController*>, kMostCards> cards_{};
};

// The one bus behind the virtual-controller build's ports, made on first use
// on the clock ClockFromEnvironment names, with one card: at the base of the
// library's eleven functions (0x340, or ORVEXPORTIO_BASE when it names a base
// a card may sit at).
VirtualBus& TheBus();

// That card.
VirtualController& TheController();

}  // namespace orvex::sim
