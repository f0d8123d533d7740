// A scripted card behind the driver's register seam, for the exchange's unit
// tests: the controller's side of the handshake, with every delay measured
// from the host's first look at the handshake register in that step, so that
// each bound can be hit exactly on either side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

extern "C" {
#include "orvex_exchange.h"
}

namespace orvex::driver_test {

struct Write {
  unsigned offset;
  std::uint8_t value;
  bool operator==(const Write&) const = default;
};

class FakeCard {
 public:
  // ---- How the card behaves -------------------------------------------------
  // The handshake register reads this, whatever happens (a dead bus: 0xFF).
  std::optional<std::uint8_t> stuck;
  // READY withheld before command byte N (N = bytes taken so far; N equal to
  // the line's length is the return to READY after it) for this long.
  std::map<std::size_t, std::uint64_t> ready_delay;
  // The acknowledgement of command byte N comes after this long.
  std::map<std::size_t, std::uint64_t> acknowledge_delay;
  // Offered after a line; not offered when empty.
  std::string reply;
  // Reply byte N is offered after this long, and stands after this long.
  std::map<std::size_t, std::uint64_t> offer_delay;
  std::map<std::size_t, std::uint64_t> standing_delay;
  // What the handshake register shows while a reply byte stands.
  std::uint8_t standing_value = 0x80;
  // READY withheld after the reply's last byte for this long.
  std::uint64_t ready_after_reply = 0;

  // ---- What the card saw ------------------------------------------------------
  std::string taken;  // the command bytes taken
  std::vector<Write> writes;
  std::size_t reply_bytes_left() const { return reply_length_ - offered_; }
  int protocol_errors = 0;

  orvex_port Port();

 private:
  enum class Phase { Idle, Strobed, Offered, Standing };
  static std::uint8_t ReadRegister(void* context, unsigned offset);
  static void WriteRegister(void* context, unsigned offset, std::uint8_t value);
  std::uint8_t ShowHandshake();
  bool WaitedFor(const std::map<std::size_t, std::uint64_t>& delays, std::size_t index);
  void Enter(Phase phase);
  void WriteHandshake(std::uint8_t value);

  Phase phase_ = Phase::Idle;
  std::uint8_t data_ = 0;
  std::optional<std::uint64_t> first_look_;
  std::size_t reply_length_ = 0;
  std::size_t offered_ = 0;
  bool replied_ = false;  // the whole reply was taken, and no byte since
};

// The bytes a host writes for one command byte, and for one reply byte.
std::vector<Write> CommandByteWrites(std::uint8_t byte);
std::vector<Write> ReplyByteWrites();

}  // namespace orvex::driver_test
