// The exchange in flight on a card, as the process that holds the card
// writes it down step by step for the next holder: the line, whether a reply
// follows, and the step of the byte handshake it is about to take. A holder
// that dies leaves it there, and the next holder finishes that exchange
// exactly (link/finish_exchange.h) before it sends its own: this controller
// has no way to abandon a partial line, so finishing it is the only way not
// to have the next line run into it.
//
// The record lives in the card's machine-wide record when other processes
// drive the card too, else in the process; a step is one 32-bit store, which
// a death cannot tear, noted before the access it names.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <type_traits>

namespace orvex::link {

// The steps of one exchange, in their order.
enum class Step : std::uint8_t {
  Idle = 0,        // no exchange in flight
  AwaitReady,      // command byte `index`: looking for READY
  PutByte,         // writing it to the data register
  Strobe,          // writing STROBE
  AwaitTaken,      // looking for PENDING
  Release,         // writing RELEASE
  AwaitLineDone,   // after the line: looking for READY
  AwaitOffer,      // reply byte `index`: looking for PENDING
  AskByte,         // writing STROBE
  AwaitStanding,   // looking for 0x80 or more
  TakeByte,        // reading the data register
  ReleaseByte,     // writing RELEASE; `line_feed` when the byte was one
  AwaitReplyDone,  // after the reply's line feed: looking for READY
};

struct Position {
  Step step = Step::Idle;
  std::uint32_t index = 0;  // the byte of the line or of the reply
  bool line_feed = false;   // at ReleaseByte: the byte is the reply's line feed
};

class ExchangeRecord {
 public:
  static constexpr std::size_t LINE_CAPACITY = 80;

  // Writes the line down; the exchange counts as in flight from the first step.
  void Begin(std::string_view line, bool query);
  void Note(Step step, std::uint32_t index = 0, bool line_feed = false) {
    std::atomic_ref(position_).store(Encode({step, index, line_feed}), std::memory_order_relaxed);
  }
  void End() { Note(Step::Idle); }

  Position At() const {
    return Decode(
        std::atomic_ref(const_cast<std::uint32_t&>(position_)).load(std::memory_order_relaxed));
  }
  std::string_view Line() const;
  bool Query() const { return query_ != 0; }

 private:
  // Inline: a step is noted at every port access, on the hot path.
  static constexpr std::uint32_t INDEX_BITS = 20;
  static constexpr std::uint32_t INDEX_MASK = (std::uint32_t{1} << INDEX_BITS) - 1;
  static constexpr std::uint32_t LINE_FEED_BIT = std::uint32_t{1} << INDEX_BITS;
  static constexpr std::uint32_t STEP_SHIFT = 24;

  static constexpr std::uint32_t Encode(Position position) {
    return (static_cast<std::uint32_t>(position.step) << STEP_SHIFT) |
           (position.line_feed ? LINE_FEED_BIT : 0) | (position.index & INDEX_MASK);
  }
  static constexpr Position Decode(std::uint32_t word) {
    return {static_cast<Step>(word >> STEP_SHIFT), word & INDEX_MASK, (word & LINE_FEED_BIT) != 0};
  }

  // Plain data, so that shared memory holds one without its being made there
  // (all zero is an idle record); the position is read and written through
  // std::atomic_ref.
  std::uint32_t position_;
  std::uint32_t line_length_;
  std::uint8_t query_;
  std::array<char, LINE_CAPACITY> line_;
};

static_assert(std::atomic_ref<std::uint32_t>::is_always_lock_free);
static_assert(std::is_trivial_v<ExchangeRecord>);
// Fixed-width fields only: 32-bit and 64-bit processes on one card read each
// other's records (both Windows DLLs), so both builds must lay it out alike.
static_assert(sizeof(ExchangeRecord) == 92 && alignof(ExchangeRecord) == 4,
              "one layout for 32-bit and 64-bit processes");

// The record laid into a card's shared payload.
ExchangeRecord& RecordIn(std::span<unsigned char> payload);

}  // namespace orvex::link
