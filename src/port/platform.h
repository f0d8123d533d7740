// The platform touch points of the library: byte access to one card's I/O
// ports, a steady clock and a pause. Each build links exactly one
// implementation: the hardware port access of its platform, or the virtual
// controller.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace orvex::port {

// Port address as the layers above hand it over; only the low 16 bits
// address a port.
using PortAddress = std::int32_t;

// The card's two registers, by their distance from its base.
enum class Register : std::uint8_t {
  Data = 0,       // the byte being sent or received
  Handshake = 1,  // strobe and acknowledge
};

// What the port layer keeps per card to share it with the other processes
// that drive it (port/machine_wide.h): set on the card's first exchange and
// kept for the life of the process. Its own business; opaque to the layers
// above.
struct CardSharing {
  std::atomic<void*> record{nullptr};  // the shared record, once mapped
  std::atomic<void*> lock{nullptr};    // a lock of its own, where the platform needs one
  std::atomic<int> problem{0};         // 0: shared, or not tried yet; else why not
  // The hold that made this process's last wait for the card run out: a
  // stopped holder costs one wait, not one per queued call.
  std::atomic<std::int32_t> gave_up_to{0};
  std::atomic<std::int64_t> gave_up_since{0};
  // This process's id as the record notes its holder, asked of the kernel
  // once (a system call on Linux) and forgotten in a fork's child; 0 until
  // then.
  std::atomic<std::int32_t> process{0};
  // The record's name, as MachineWideName gives it when the card is made;
  // empty: no other process can reach the card.
  char name[64] = {};

  // Whether the hold of `holder`, begun at `since`, is the one that made
  // this process's last wait run out.
  bool GaveUpTo(std::int32_t holder, std::int64_t since) const {
    return holder != 0 && holder == gave_up_to.load(std::memory_order_relaxed) &&
           since == gave_up_since.load(std::memory_order_relaxed);
  }
  void NoteGaveUp(std::int32_t holder, std::int64_t since) {
    gave_up_to.store(holder, std::memory_order_relaxed);
    gave_up_since.store(since, std::memory_order_relaxed);
  }
  // The problem noted, as `texts` (indexed by it) tell it; nullptr for none.
  const char* ProblemText(std::span<const char* const> texts) const {
    const int noted = problem.load(std::memory_order_acquire);
    if (noted <= 0 || static_cast<std::size_t>(noted) >= texts.size()) return nullptr;
    return texts[static_cast<std::size_t>(noted)];
  }
};

// How the port layer reaches one card, where a platform has more than one
// way: chosen on the card's first exchange and kept for the life of the
// process. A descriptor kept here is never closed: at process exit other
// threads may still be inside a call. Its own business; opaque to the layers
// above.
struct CardRoute {
  static constexpr int NOT_CHOSEN = -2;
  static constexpr int NO_NODE = -1;
  // The kernel driver's node for the card, opened for reading and writing;
  // NO_NODE when the card is reached through its registers instead.
  std::atomic<int> node{NOT_CHOSEN};
};

// One card's registers as the layers above know them: where its switches put
// them. Passed down with every access, so that a build can keep what it needs
// per card (a grant, a route, its record) and two cards never share it.
class CardPorts {
 public:
  explicit constexpr CardPorts(PortAddress base) : base_(base) {}
  CardPorts(const CardPorts&) = delete;
  CardPorts& operator=(const CardPorts&) = delete;

  constexpr PortAddress Base() const { return base_; }
  constexpr PortAddress Address(Register which) const {
    return base_ + static_cast<PortAddress>(which);
  }
  CardSharing& Sharing() const { return sharing_; }
  CardRoute& Route() const { return route_; }

 private:
  PortAddress base_;
  mutable CardSharing sharing_;
  mutable CardRoute route_;
};

// What became of an exchange carried whole (CarryWholeExchange), as the
// link's own handshake would tell it.
struct CarriedExchange {
  // The line went out whole and the card came back to READY; for a query, a
  // whole reply line that fits the buffer came too.
  bool delivered = false;
  std::size_t reply_length = 0;  // reply bytes stored, line feed included
};

// Carries one whole exchange with the card, a command line, or a query line
// and its reply line, where the platform has a route that does so by itself
// and keeps the processes of the machine apart on the card (a kernel driver,
// which also ends the exchange of a process that dies in the middle of it).
// Nothing where the card has no such route: the link then runs the handshake
// itself through ReadPortByte and WritePortByte, and keeps the processes
// apart itself (port/machine_wide.h). The route is chosen on the card's
// first exchange and kept.
std::optional<CarriedExchange> CarryWholeExchange(const CardPorts& card, std::string_view line,
                                                  bool query, std::span<std::uint8_t> reply);

// Whether CarryWholeExchange carries this card's exchanges; chooses the route
// when no exchange has yet.
bool CarriesWholeExchanges(const CardPorts& card);

// Reads one of the card's registers. An unreachable bus reads 0xFF.
std::uint8_t ReadPortByte(const CardPorts& card, Register which);

// Writes one of the card's registers. On an unreachable bus the byte goes nowhere.
void WritePortByte(const CardPorts& card, Register which, std::uint8_t value);

// The name under which every process that reaches this card's registers
// shares its record (port/machine_wide.h), written into `name` with its NUL;
// false when no other process can reach them (a virtual controller of this
// process alone).
bool MachineWideName(const CardPorts& card, std::span<char> name);

// Seconds on a clock that never steps backwards or jumps with the wall clock.
double SteadyClockSeconds();

// Blocks the calling thread for the given number of milliseconds.
void PauseMilliseconds(unsigned milliseconds);

}  // namespace orvex::port
