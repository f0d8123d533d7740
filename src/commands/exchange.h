// One exchange with the controller at PORT_BASE, holding the registers for
// exactly its length.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace orvex::commands {

// Sends one command line; 1 when it was delivered, 0 on a time-out.
int SendLine(std::string_view line);

struct QueryReply {
  static constexpr std::size_t kCapacity = 80;
  bool answered = false;  // the query went out and a whole reply line came back
  std::array<std::uint8_t, kCapacity> bytes{};
  std::size_t length = 0;
  std::span<const std::uint8_t> Received() const { return std::span(bytes).first(length); }
};

// Sends one query line and reads its reply line.
QueryReply Query(std::string_view line);

}  // namespace orvex::commands
