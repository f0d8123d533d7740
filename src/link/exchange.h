// One exchange with a card's controller, holding the card's registers for
// exactly its length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "link/card.h"
#include "orvexportio.h"

namespace orvex::link {

// Sends one command line; true when it was delivered, false on a time-out.
bool SendLine(Card& card, std::string_view line);

struct QueryReply {
  static constexpr std::size_t CAPACITY = ORVEX_REPLY_CAPACITY;
  bool answered = false;  // the query went out and a whole reply line came back
  std::array<std::uint8_t, CAPACITY> bytes{};
  std::size_t length = 0;
  std::span<const std::uint8_t> Received() const { return std::span(bytes).first(length); }
};

// Sends one query line and reads its reply line.
QueryReply Query(Card& card, std::string_view line);

// Who holds the card machine-wide at this moment, as its record tells.
struct CardHolder {
  bool shared = false;  // the card has a machine-wide record; else nothing below is known
  bool held = false;
  std::int32_t process = 0;
  std::array<char, 16> program{};  // NUL-terminated
  double held_seconds = 0.0;
  std::array<char, 80> line{};  // the line in flight, NUL-terminated
};

CardHolder HolderOf(Card& card);

}  // namespace orvex::link
