// The controller's side of the byte handshake on its two registers: taking
// command bytes one by one into a line, and offering a reply line byte by
// byte, as the controller's documents describe it. It knows nothing of the
// library that drives it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "fault_plan.h"
#include "motion_model.h"
#include "transcript.h"

namespace orvex::sim {

// What the controller does with a whole line: it gets the line as received,
// and for a query writes the reply into `reply` and returns its length.
class LineSink {
 public:
  virtual std::optional<std::size_t> LineCompleted(const ReceivedLine& line,
                                                   std::span<std::uint8_t> reply) = 0;

 protected:
  ~LineSink() = default;
};

// Plain data of fixed widths (card_state.h says why).
class ControllerHandshake {
 public:
  static constexpr std::size_t kReplyCapacity = 2048;

  // A look at the handshake register at `now`.
  std::uint8_t ReadHandshake(FaultPlan& faults, Microseconds now);
  std::uint8_t ReadData() const { return data_register_; }
  void WriteHandshake(std::uint8_t value, FaultPlan& faults, Microseconds now, LineSink& sink);
  void WriteData(std::uint8_t value);

  // Idle again, giving up any line or reply in the middle of its transfer.
  void AbandonTransfer();
  // As after power-up: idle, nothing taken, no errors counted.
  void Reset();

  std::uint64_t BytesTaken() const { return bytes_taken_; }
  // Strobes and releases out of turn, and values that are neither.
  std::uint64_t ProtocolErrors() const { return protocol_errors_; }

 private:
  enum class Phase : std::uint8_t {
    Idle,            // READY, unless readiness is withheld
    ByteTaken,       // a strobed command byte taken: shows PENDING until released
    Unacknowledged,  // a strobed command byte never acknowledged
    LineDone,        // READY for one look after the line, then a reply is offered
    ReplyOffered,    // PENDING: a reply byte waits to be asked for
    ReplyStanding,   // the reply byte stands on the data register
  };

  void Strobe(FaultPlan& faults, Microseconds now);
  void Release(FaultPlan& faults, LineSink& sink, Microseconds now);
  void TakeByte(std::uint8_t byte, FaultPlan& faults, LineSink& sink, Microseconds now);
  void CompleteLine(const FaultPlan& faults, LineSink& sink, Microseconds now);
  bool ReplyExhausted(const FaultPlan& faults) const;
  std::uint8_t NextReplyByte() const;

  std::uint64_t bytes_taken_ = 0;
  std::uint64_t protocol_errors_ = 0;
  ReceivedLine current_line_;
  std::array<std::uint8_t, kReplyCapacity> reply_{};
  std::uint32_t reply_length_ = 0;
  std::uint32_t reply_offered_ = 0;
  Phase phase_ = Phase::Idle;
  std::uint8_t data_register_ = 0;
  [[maybe_unused]] std::array<std::uint8_t, 6> padding_{};
};

}  // namespace orvex::sim
