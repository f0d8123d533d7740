// The platform touch points of the library: byte access to one card's I/O
// ports, a steady clock and a pause. Each build links exactly one
// implementation: the hardware port access of its platform, or the virtual
// controller.
#pragma once

#include <cstdint>

namespace orvex::port {

// Port address as the layers above hand it over; only the low 16 bits
// address a port.
using PortAddress = std::int32_t;

// The card's two registers, by their distance from its base.
enum class Register : std::uint8_t {
  Data = 0,       // the byte being sent or received
  Handshake = 1,  // strobe and acknowledge
};

// One card's registers as the layers above know them: where its switches put
// them. Passed down with every access, so that a build can keep what it needs
// per card (a grant, a route) and two cards never share it.
class CardPorts {
 public:
  explicit constexpr CardPorts(PortAddress base) : base_(base) {}
  constexpr PortAddress Base() const { return base_; }
  constexpr PortAddress Address(Register which) const {
    return base_ + static_cast<PortAddress>(which);
  }

 private:
  PortAddress base_;
};

// Reads one of the card's registers. An unreachable bus reads 0xFF.
std::uint8_t ReadPortByte(const CardPorts& card, Register which);

// Writes one of the card's registers. On an unreachable bus the byte goes nowhere.
void WritePortByte(const CardPorts& card, Register which, std::uint8_t value);

// Seconds on a clock that never steps backwards or jumps with the wall clock.
double SteadyClockSeconds();

// Blocks the calling thread for the given number of milliseconds.
void PauseMilliseconds(unsigned milliseconds);

}  // namespace orvex::port
